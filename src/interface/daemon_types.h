// The values the daemon object's methods take and give: the interface's
// value types (client/daemon_types.h, shared with the clients) and who is
// calling.
//
// Thread safety: plain values.

#ifndef TALVO_INTERFACE_DAEMON_TYPES_H_
#define TALVO_INTERFACE_DAEMON_TYPES_H_

#include <string>

#include "client/daemon_types.h"
#include "platform/socket.h"

namespace talvo::interface {

using client::IiopDetails;
using client::ImplementationDetails;
using client::LaunchStatus;
using client::PersistentServerDetails;
using client::ServerDescription;
using client::ServerDetails;
using client::Strings;

// Who sent a request: its principal (settled by the daemon's request
// filter; "nobody" when the message brought none) and the identity of the
// connection it arrived on (no descriptor, -1, when there is none, for
// example a call from inside the daemon), whose peer address the
// protected-mode check examines.
struct Caller {
  std::string principal;
  platform::PeerIdentity peer;
};

}  // namespace talvo::interface

#endif  // TALVO_INTERFACE_DAEMON_TYPES_H_
