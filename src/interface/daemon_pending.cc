// The operations whose subsystems (binding, locator, activation) are not
// built yet. Each answers NO_IMPLEMENT 10200 with its operation's name;
// the subsystem that implements one replaces its body here.

#include "interface/daemon.h"

namespace talvo::interface {
namespace {

Status notImplemented(const char* operation) {
  return fail<CORBA::NO_IMPLEMENT>(kMinorNotImplemented, operation);
}

}  // namespace

Status Daemon::getImplementationDetails(const Caller&, std::string_view,
                                        std::string_view, std::string_view,
                                        ImplementationDetails*) {
  return notImplemented("getImplementationDetails");
}

Status Daemon::getIIOPDetails(const Caller&, std::string_view, std::string_view,
                              std::string_view, IiopDetails*) {
  return notImplemented("getIIOPDetails");
}

Status Daemon::registerPersistentServer(const Caller&, std::string_view,
                                        std::uint32_t,
                                        PersistentServerDetails*) {
  return notImplemented("registerPersistentServer");
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

Status Daemon::listActiveServers(const Caller&, std::vector<ServerDetails>*) {
  return notImplemented("listActiveServers");
}

Status Daemon::killServer(const Caller& caller, std::string_view,
                          std::string_view) {
  if (Status st = checkAccess(caller)) return st;
  return notImplemented("killServer");
}

}  // namespace talvo::interface
