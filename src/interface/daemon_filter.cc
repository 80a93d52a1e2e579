#include "interface/daemon_filter.h"

namespace talvo::interface {

bool DaemonFilter::inRequestPreMarshal(protocol::Request& request,
                                       CORBA::Environment&) {
  // Until a filter sets it, the request's principal is what its message
  // brought.
  if (request.principal.empty()) request.principal = kNoPrincipal;
  return true;
}

bool DaemonFilter::failure(protocol::Request& request,
                           CORBA::Environment& env) {
  if (request.principal.empty()) inRequestPreMarshal(request, env);
  // Seam: an IIOP request that failed with a minor from 10100 to 10119 for
  // an object of a registered server is answered with a location forward
  // to that server's IIOP port (through daemon_->getIIOPDetails()).
  (void)daemon_;
  return true;
}

}  // namespace talvo::interface
