// The values the daemon object's methods take and give: the interface's
// value types (client/daemon_types.h, shared with the clients) and who is
// calling.
//
// Thread safety: plain values.

#ifndef TALVO_INTERFACE_DAEMON_TYPES_H_
#define TALVO_INTERFACE_DAEMON_TYPES_H_

#include <string>

#include "client/daemon_types.h"

namespace talvo::interface {

using client::IiopDetails;
using client::ImplementationDetails;
using client::LaunchStatus;
using client::PersistentServerDetails;
using client::ServerDescription;
using client::ServerDetails;
using client::Strings;

// Who sent a request: its principal (settled by the daemon's request
// filter; "nobody" when the message brought none) and the socket of the
// connection it arrived on (-1 when there is none, for example a call from
// inside the daemon), which the protected-mode check asks for the peer.
struct Caller {
  std::string principal;
  int socket = -1;
};

}  // namespace talvo::interface

#endif  // TALVO_INTERFACE_DAEMON_TYPES_H_
