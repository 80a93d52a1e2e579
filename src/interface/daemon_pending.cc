// The operations of binding and activation, handed to the binding service
// and the activator the program attached, and those of the locator, which
// is not built yet. An operation whose subsystem is missing answers
// NO_IMPLEMENT 10200 with its operation's name.

#include <optional>
#include <string>
#include <utility>

#include "activation/activator.h"
#include "binding/binding_service.h"
#include "interface/daemon.h"

namespace talvo::interface {
namespace {

Status notImplemented(const char* operation) {
  return fail<CORBA::NO_IMPLEMENT>(kMinorNotImplemented, operation);
}

// A request that arrived over a connection carries its principal and
// socket; one made inside the daemon (no socket) has neither, and the
// binding service then acts for the daemon's own user.
Requester requesterOf(const Caller& caller) {
  Requester r;
  if (caller.socket >= 0) {
    r.principal = caller.principal;
    r.connection = caller.socket;
  }
  return r;
}

}  // namespace

Status Daemon::getImplementationDetails(const Caller& caller,
                                        std::string_view serverName,
                                        std::string_view markerName,
                                        std::string_view methodName,
                                        ImplementationDetails* out) {
  if (binding_ == nullptr) return notImplemented("getImplementationDetails");
  talvo::ImplementationDetails details;
  if (Status st = binding_->getImplementationDetails(
          requesterOf(caller), std::string(serverName), std::string(markerName),
          std::string(methodName), &details)) {
    return st;
  }
  out->codeProtocol = std::move(details.codeProtocol);
  out->commsProtocol = std::move(details.commsProtocol);
  out->commsPort = std::move(details.commsPort);
  out->activationPolicy = std::move(details.activationPolicy);
  return nullptr;
}

Status Daemon::getIIOPDetails(const Caller& caller, std::string_view serverName,
                              std::string_view markerName,
                              std::string_view methodName, IiopDetails* out) {
  if (binding_ == nullptr) return notImplemented("getIIOPDetails");
  talvo::IIOPDetails details;
  if (Status st = binding_->getIIOPDetails(
          requesterOf(caller), std::string(serverName), std::string(markerName),
          std::string(methodName), &details)) {
    return st;
  }
  out->iiopPort = std::move(details.iiopPort);
  out->activationPolicy = std::move(details.activationPolicy);
  return nullptr;
}

Status Daemon::registerPersistentServer(const Caller& caller,
                                        std::string_view serverName,
                                        std::uint32_t serverPid,
                                        PersistentServerDetails* out) {
  if (binding_ == nullptr) return notImplemented("registerPersistentServer");
  talvo::PersistentServerDetails details;
  if (Status st = binding_->registerPersistentServer(
          requesterOf(caller), std::string(serverName), serverPid, &details)) {
    return st;
  }
  out->codeProtocol = std::move(details.codeProtocol);
  out->commsProtocol = std::move(details.commsProtocol);
  out->commsPort = std::move(details.commsPort);
  return nullptr;
}

Status Daemon::lookUp(const Caller&, std::string_view, std::uint8_t,
                      std::string_view, std::vector<std::string>*, bool*) {
  return notImplemented("lookUp");
}

Status Daemon::addHostsToServer(const Caller&, std::string_view,
                                const std::vector<std::string>&, bool*) {
  return notImplemented("addHostsToServer");
}

Status Daemon::addHostsToGroup(const Caller&, std::string_view,
                               const std::vector<std::string>&, bool*) {
  return notImplemented("addHostsToGroup");
}

Status Daemon::addGroupsToServer(const Caller&, std::string_view,
                                 const std::vector<std::string>&, bool*) {
  return notImplemented("addGroupsToServer");
}

Status Daemon::delHostsFromServer(const Caller&, std::string_view,
                                  const std::vector<std::string>&, bool*) {
  return notImplemented("delHostsFromServer");
}

Status Daemon::delHostsFromGroup(const Caller&, std::string_view,
                                 const std::vector<std::string>&, bool*) {
  return notImplemented("delHostsFromGroup");
}

Status Daemon::delGroupsFromServer(const Caller&, std::string_view,
                                   const std::vector<std::string>&, bool*) {
  return notImplemented("delGroupsFromServer");
}

Status Daemon::listHostsInServer(const Caller&, std::string_view,
                                 std::vector<std::string>*, bool*) {
  return notImplemented("listHostsInServer");
}

Status Daemon::listHostsInGroup(const Caller&, std::string_view,
                                std::vector<std::string>*, bool*) {
  return notImplemented("listHostsInGroup");
}

Status Daemon::listGroupsInServer(const Caller&, std::string_view,
                                  std::vector<std::string>*, bool*) {
  return notImplemented("listGroupsInServer");
}

Status Daemon::listActiveServers(const Caller&,
                                 std::vector<ServerDetails>* servers) {
  if (activator_ == nullptr) return notImplemented("listActiveServers");
  std::vector<talvo::ServerDetails> live;
  if (Status st = talvo::listActiveServers(*activator_, &live)) return st;
  servers->clear();
  servers->reserve(live.size());
  for (talvo::ServerDetails& d : live) {
    ServerDetails s;
    s.server = std::move(d.server);
    s.marker = std::move(d.marker);
    s.principal = std::move(d.principal);
    s.code = std::move(d.code);
    s.comms = std::move(d.comms);
    s.port = std::move(d.port);
    s.osSpecific = d.OSspecific;
    s.status = static_cast<LaunchStatus>(static_cast<std::uint32_t>(d.status));
    servers->push_back(std::move(s));
  }
  return nullptr;
}

Status Daemon::killServer(const Caller& caller, std::string_view name,
                          std::string_view marker) {
  if (Status st = checkAccess(caller)) return st;
  if (activator_ == nullptr) return notImplemented("killServer");
  return talvo::killServer(*activator_, std::string(name), std::string(marker),
                           requesterOf(caller).principal);
}

}  // namespace talvo::interface
