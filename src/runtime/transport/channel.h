// Channels: one TCP connection between two broker processes.
//
// A channel carries what the upper layers learn about its peer: the binding
// (host name, server name, marker, interface name; empty until set), the
// peer's user name and process id from its binding message, the optimised
// flag, and the protocol kind (1 broker protocol, 2 IIOP). The event loop
// (event_loop.h) creates, owns and destroys channels; upper layers hold a
// Channel& only while a callback or a call runs, and its id() beyond that.
//
// Each class answers a type query by its class name and passes any other
// name to its base; a name no class in the chain has gives null.
//
// Thread safety: none; channels belong to the event loop's thread.

#ifndef TALVO_RUNTIME_TRANSPORT_CHANNEL_H_
#define TALVO_RUNTIME_TRANSPORT_CHANNEL_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/socket.h"

namespace talvo {

inline constexpr int kTalvoProtocolKind = 1;
inline constexpr int kIiopProtocolKind = 2;

class Channel {
 public:
  Channel() = default;
  virtual ~Channel() = default;
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  // This channel when `class_name` is "Channel" (or a derived class's own
  // name), else null.
  virtual Channel* typeQuery(std::string_view class_name);
  // The channel's own description, shown in the connection trace lines.
  virtual std::string description() const { return {}; }

  // A number that names this channel for its whole life (never reused).
  std::uint64_t id() const { return id_; }
  // The socket descriptor, -1 once closed.
  int socket() const { return socket_; }
  const platform::SocketAddress& peerAddress() const { return peer_; }
  bool connected() const { return connected_; }
  // True for a channel this process connected, false for an accepted one.
  bool outgoing() const { return outgoing_; }

  int protocolKind() const { return protocol_kind_; }
  void setProtocolKind(int kind) { protocol_kind_ = kind; }

  // The binding of the channel and the peer's identity, set by the upper
  // layer from the binding message (empty strings and 0 until then).
  const std::string& hostName() const { return host_name_; }
  const std::string& serverName() const { return server_name_; }
  const std::string& marker() const { return marker_; }
  const std::string& interfaceName() const { return interface_name_; }
  const std::string& peerDescription() const { return peer_description_; }
  const std::string& userName() const { return user_name_; }
  std::uint32_t processId() const { return process_id_; }
  bool optimised() const { return optimised_; }
  void setHostName(std::string v) { host_name_ = std::move(v); }
  void setServerName(std::string v) { server_name_ = std::move(v); }
  void setMarker(std::string v) { marker_ = std::move(v); }
  void setInterfaceName(std::string v) { interface_name_ = std::move(v); }
  void setPeerDescription(std::string v) { peer_description_ = std::move(v); }
  void setUserName(std::string v) { user_name_ = std::move(v); }
  void setProcessId(std::uint32_t pid) { process_id_ = pid; }
  void setOptimised(bool on) { optimised_ = on; }

  // The largest frame body this channel accepts.
  std::uint64_t maxMessageSize() const { return max_message_size_; }

  // The trace texts (without prefix) for the start and end of the
  // connection, in the form of its protocol kind.
  std::string newConnectionText() const;
  std::string endConnectionText() const;

 protected:
  friend class EventLoop;
  std::uint64_t id_ = 0;
  int socket_ = -1;
  platform::SocketAddress peer_;
  bool connected_ = false;
  bool outgoing_ = false;
  int protocol_kind_ = kTalvoProtocolKind;
  std::string host_name_, server_name_, marker_, interface_name_;
  std::string peer_description_, user_name_;
  std::uint32_t process_id_ = 0;
  bool optimised_ = false;
  std::uint64_t max_message_size_ = 0;
};

class TalvoChannel : public Channel {
 public:
  Channel* typeQuery(std::string_view class_name) override;
};

// A broker channel over TCP; describes itself as "a.b.c.d:port" of the peer.
class TalvoTCPChannel : public TalvoChannel {
 public:
  Channel* typeQuery(std::string_view class_name) override;
  std::string description() const override;
};

}  // namespace talvo

#endif  // TALVO_RUNTIME_TRANSPORT_CHANNEL_H_
