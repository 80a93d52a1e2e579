// The management operations over the activator: listing the running
// servers and killing one. The access check is the caller's.

#include "binding/binding_service.h"

namespace talvo {

Status listActiveServers(Activator& activator,
                         std::vector<ServerDetails>* out) {
  std::vector<ServerDetails> servers;
  servers.reserve(LaunchTable::kBuckets);
  if (Status error = activator.listActive(servers)) return error;
  *out = std::move(servers);
  return nullptr;
}

Status killServer(Activator& activator, const std::string& name,
                  const std::string& marker,
                  const std::optional<std::string>& callerPrincipal) {
  // A process recorded without principal is found first; otherwise the
  // caller's own (per-client) process is the one to kill.
  OptionalText principal;
  if (activator.getLaunchRecord(name, marker, std::nullopt) == nullptr) {
    principal = callerPrincipal;
    activator.getLaunchRecord(name, marker, principal);
  }
  return activator.killServer(name, marker, principal);
}

}  // namespace talvo
