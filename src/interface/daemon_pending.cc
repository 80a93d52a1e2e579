// The operations served by other subsystems: binding and activation
// through the services given at construction. Without its service an
// operation answers NO_IMPLEMENT 10200 with its name.

#include "activation/activator.h"
#include "binding/binding_service.h"
#include "interface/daemon.h"
#include "runtime/config/runtime_config.h"

namespace talvo::interface {
namespace {

Status notImplemented(const char* operation) {
  return fail<CORBA::NO_IMPLEMENT>(kMinorNotImplemented, operation);
}

}  // namespace

namespace {

Requester requesterOf(const Caller& caller) {
  Requester r;
  r.principal = caller.principal;
  // The descriptor number names the connection in the binding trace lines.
  if (caller.peer.descriptor >= 0) r.connection = caller.peer.descriptor;
  return r;
}

}  // namespace

Status Daemon::getImplementationDetails(const Caller& caller,
                                        std::string_view serverName,
                                        std::string_view markerName,
                                        std::string_view methodName,
                                        ImplementationDetails* out) {
  if (binding_ == nullptr) {
    return notImplemented("getImplementationDetails");
  }
  return binding_->getImplementationDetails(
      requesterOf(caller), std::string(serverName), std::string(markerName),
      std::string(methodName), out);
}

Status Daemon::getIIOPDetails(const Caller& caller, std::string_view serverName,
                              std::string_view markerName,
                              std::string_view methodName, IiopDetails* out) {
  if (binding_ == nullptr) return notImplemented("getIIOPDetails");
  return binding_->getIIOPDetails(requesterOf(caller), std::string(serverName),
                                  std::string(markerName),
                                  std::string(methodName), out);
}

Status Daemon::redirectIiop(const Caller& caller, std::string_view serverName,
                            std::string_view markerName,
                            std::string_view operation, std::uint16_t* port) {
  IiopDetails details;
  if (Status st =
          getIIOPDetails(caller, serverName, markerName, operation, &details)) {
    return st;
  }
  const std::string& text = details.iiopPort;
  if (text.empty() || text.size() > 5 ||
      text.find_first_not_of("0123456789") != std::string::npos ||
      std::stoul(text) == 0 || std::stoul(text) > 65535) {
    return fail<CORBA::INV_OBJREF>(10101, std::string(serverName));
  }
  *port = static_cast<std::uint16_t>(std::stoul(text));
  RuntimeConfig& config = runtime();
  if (config.diagnosticsLevel() != 0) {
    *options_.out << config.tracePrefix() << "redirecting request to "
                  << serverName << " on port " << *port << "]" << std::endl;
  }
  return nullptr;
}

Status Daemon::registerPersistentServer(const Caller& caller,
                                        std::string_view serverName,
                                        std::uint32_t serverPid,
                                        PersistentServerDetails* out) {
  if (binding_ == nullptr) {
    return notImplemented("registerPersistentServer");
  }
  return binding_->registerPersistentServer(
      requesterOf(caller), std::string(serverName), serverPid, out);
}

Status Daemon::listActiveServers(const Caller&,
                                 std::vector<ServerDetails>* servers) {
  if (options_.activator == nullptr) {
    return notImplemented("listActiveServers");
  }
  return talvo::listActiveServers(*options_.activator, servers);
}

Status Daemon::killServer(const Caller& caller, std::string_view name,
                          std::string_view marker) {
  if (Status st = checkAccess(caller)) return st;
  if (options_.activator == nullptr) return notImplemented("killServer");
  return talvo::killServer(*options_.activator, std::string(name),
                           std::string(marker), caller.principal);
}

}  // namespace talvo::interface
