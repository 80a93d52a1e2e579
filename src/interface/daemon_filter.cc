#include "interface/daemon_filter.h"

#include "platform/log_text.h"

namespace talvo::interface {

std::string settledPrincipal(const platform::PeerIdentity& peer,
                             std::string claimed) {
  // On this host the kernel says who is calling. Root may become any user
  // anyway and keeps the name it claims; anyone else is who they are.
  if (peer.local_uid && *peer.local_uid != 0) return peer.local_user;
  // A peer of this host whose socket no process holds any more is nobody
  // in particular, whatever it claimed.
  if (peer.on_this_host && !peer.local_uid) return std::string(kNoPrincipal);
  if (claimed.empty()) return std::string(kNoPrincipal);
  // A claimed name never carries a line break or other control character
  // into a log line or a file.
  return platform::escapeControlCharacters(claimed);
}

bool DaemonFilter::inRequestPreMarshal(protocol::Request& request,
                                       CORBA::Environment&) {
  request.principal =
      settledPrincipal(request.peer.identity, std::move(request.principal));
  return true;
}

bool DaemonFilter::failure(protocol::Request& request,
                           CORBA::Environment& env) {
  // Settling is idempotent: a request that failed before the principal
  // hook, or after it, ends with the same principal.
  inRequestPreMarshal(request, env);
  // Seam: an IIOP request that failed with a minor from 10100 to 10119 for
  // an object of a registered server is answered with a location forward
  // to that server's IIOP port (through daemon_->getIIOPDetails()).
  (void)daemon_;
  return true;
}

}  // namespace talvo::interface
