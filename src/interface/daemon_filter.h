// DaemonFilter: the request filter the daemon program installs in the run
// time before its event loop starts.
//
// Its principal hook (the incoming request before its arguments are read)
// settles the principal of every request (settledPrincipal): for a peer on
// this host, the name of the user the kernel says owns its socket, unless
// that is root, who keeps the name it claims; for a peer on another host
// the principal the message brings (the user name of the connection's
// binding message, or GIOP's requesting principal), its control characters
// escaped; "nobody" when that is empty. The failure hook runs the
// principal hook for a request that failed before it, and is where the
// redirection of IIOP requests to a registered server's port will go; for
// now it leaves the failure as it is. Every other filter point passes.
//
// Thread safety: none; the run time calls it on the event-loop thread.

#ifndef TALVO_INTERFACE_DAEMON_FILTER_H_
#define TALVO_INTERFACE_DAEMON_FILTER_H_

#include <string>
#include <string_view>

#include "interface/daemon.h"
#include "runtime/protocol/request_filter.h"

namespace talvo::interface {

// The principal of a request whose message brought none.
inline constexpr std::string_view kNoPrincipal = "nobody";

// The principal of a request from `peer` whose message claims `claimed`.
std::string settledPrincipal(const platform::PeerIdentity& peer,
                             std::string claimed);

class DaemonFilter : public protocol::RequestFilter {
 public:
  // `daemon` (not owned, may be null) serves the redirection of failed IIOP
  // requests.
  explicit DaemonFilter(Daemon* daemon = nullptr) : daemon_(daemon) {}

  // The failure hook.
  bool failure(protocol::Request& request, CORBA::Environment& env) override;
  // The principal hook.
  bool inRequestPreMarshal(protocol::Request& request,
                           CORBA::Environment& env) override;

 private:
  Daemon* daemon_;
};

}  // namespace talvo::interface

#endif  // TALVO_INTERFACE_DAEMON_FILTER_H_
