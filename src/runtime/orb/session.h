// Session: what the Orb knows of one connection beyond its socket: the
// peer's binding (user name, host, server, marker, pid, the optimised flag
// and the protocol, kept as the PeerInfo every request of the connection is
// dispatched with), the IIOP peer's interface and description, where the
// binding exchange stands, and the reader that gathers its messages. The Orb
// keeps one per open channel, by channel id, from the channel's opening to its
// close.
//
// It also writes the connection trace texts (without prefix) in the form of
// the connection's protocol.
//
// Thread safety: none; sessions belong to the Orb's thread.

#ifndef TALVO_RUNTIME_ORB_SESSION_H_
#define TALVO_RUNTIME_ORB_SESSION_H_

#include <cstdint>
#include <memory>
#include <string>

#include "runtime/orb/connection.h"
#include "runtime/protocol/request.h"
#include "runtime/transport/channel.h"

namespace talvo {

struct Session {
  // The peer as requests see it; its identity is the channel's.
  protocol::PeerInfo info;
  std::string interface_name;    // IIOP: the interface of the binding
  std::string peer_description;  // IIOP: the peer's own description
  bool bound = false;            // the binding is known (or was skipped)
  // host:port while this side awaits the binding.
  std::string opening;
  std::unique_ptr<MessageReader> reader;

  const std::string& hostName() const { return info.host_name; }
  const std::string& serverName() const { return info.server_name; }
  const std::string& marker() const { return info.marker; }
  const std::string& userName() const { return info.user_name; }
  std::uint32_t processId() const { return info.pid; }
  bool optimised() const { return info.optimised; }

  // "New Connection (host,server,marker,a.b.c.d:port,pid=N[,optimised]) ]"
  // or "New IIOP Connection (host:description) ]".
  std::string newConnectionText(const Channel& channel) const;
  // "End of Connection (host,server,marker,a.b.c.d:port[,pid=N]) ]" (the
  // pid when known) or "End of IIOP Connection (host:description) ]".
  std::string endConnectionText(const Channel& channel) const;
};

}  // namespace talvo

#endif  // TALVO_RUNTIME_ORB_SESSION_H_
