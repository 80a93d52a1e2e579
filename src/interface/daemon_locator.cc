// The locator's operations: lookUp, answered from this host's files or
// passed on to the next daemon without holding up the loop, and the nine
// operations that edit and list the host and group files.

#include <ctime>

#include "client/daemon_operations.h"
#include "client/typed_operation.h"
#include "interface/daemon.h"
#include "locator/locator_service.h"
#include "runtime/config/runtime_config.h"
#include "runtime/orb/orb.h"

namespace talvo::interface {
namespace {

using LookUpOp = client::op::LookUp;

// Sends the question to the daemon on `host`; `done` gets its answer, or
// the failure (COMM_FAILURE 10087 when `deadline` passes first).
void forwardLookUp(Orb& orb, const std::string& host, std::string_view service,
                   std::uint8_t hops, const std::string& tag,
                   Orb::Clock::time_point deadline, LookUpDone done) {
  Target target;
  if (Status st = orb.daemonTarget(host, target)) {
    return done(std::move(st), {}, false);
  }
  std::vector<protocol::Value> args(LookUpOp::kParams);
  args[0] = client::toValue(std::string(service));
  args[2] = client::toValue(hops);
  args[3] = client::toValue(tag);
  orb.callAsync(target, LookUpOp::signature(), std::move(args), deadline,
                [done = std::move(done)](Status st, CallReply& reply) {
                  std::vector<std::string> hosts;
                  bool ok = false;
                  if (st == nullptr && reply.user_exception != nullptr) {
                    st = fail<CORBA::UNKNOWN>(0, reply.user_exception->name());
                  }
                  if (st != nullptr) return done(std::move(st), {}, false);
                  LookUpOp::readOuts(reply.args, reply.result,
                                     LookUpOp::OutPointers(&hosts, &ok));
                  done(nullptr, std::move(hosts), ok);
                });
}

}  // namespace

locator::LocatorOptions Daemon::locatorOptions() {
  RuntimeConfig& config = runtime();
  locator::LocatorOptions o;
  const char* dir = config.locatorPath();
  o.directory = dir != nullptr ? dir : "";
  o.diagnostics.prefix = [&config]() -> std::optional<std::string> {
    if (config.diagnosticsLevel() == 0) return std::nullopt;
    return config.tracePrefix("talvod");
  };
  o.diagnostics.line = [out = options_.out](std::string_view line) {
    *out << line << std::endl;
  };
  o.save_hook = options_.locator_save_hook;
  return o;
}

void Daemon::lookUp(const Caller&, std::string_view service, std::uint8_t hops,
                    std::string_view tag, LookUpDone done) {
  if (locator_ == nullptr) {
    locator_ = std::make_unique<locator::LocatorService>(locatorOptions(),
                                                         runtime().hostName());
  }
  locator::LookUpStep step =
      locator_->lookUp(service, hops, tag, std::time(nullptr));
  if (!step.next_host || options_.orb == nullptr) {
    return done(std::move(step.failure), std::move(step.hosts), step.found);
  }
  forwardLookUp(
      *options_.orb, *step.next_host, service, step.next_hops, step.next_tag,
      Orb::Clock::now() + std::chrono::milliseconds(options_.locator_wait_ms),
      std::move(done));
}

Status Daemon::addHostsToServer(const Caller&, std::string_view server,
                                const std::vector<std::string>& hostList,
                                bool* ok) {
  return locator::editLocator(
      locatorOptions(), locator::Edit::kAddHostsToServer, server, hostList, ok);
}

Status Daemon::addHostsToGroup(const Caller&, std::string_view group,
                               const std::vector<std::string>& hostList,
                               bool* ok) {
  return locator::editLocator(locatorOptions(), locator::Edit::kAddHostsToGroup,
                              group, hostList, ok);
}

Status Daemon::addGroupsToServer(const Caller&, std::string_view server,
                                 const std::vector<std::string>& groupList,
                                 bool* ok) {
  return locator::editLocator(locatorOptions(),
                              locator::Edit::kAddGroupsToServer, server,
                              groupList, ok);
}

Status Daemon::delHostsFromServer(const Caller&, std::string_view server,
                                  const std::vector<std::string>& hostList,
                                  bool* ok) {
  return locator::editLocator(locatorOptions(),
                              locator::Edit::kDelHostsFromServer, server,
                              hostList, ok);
}

Status Daemon::delHostsFromGroup(const Caller&, std::string_view group,
                                 const std::vector<std::string>& hostList,
                                 bool* ok) {
  return locator::editLocator(
      locatorOptions(), locator::Edit::kDelHostsFromGroup, group, hostList, ok);
}

Status Daemon::delGroupsFromServer(const Caller&, std::string_view server,
                                   const std::vector<std::string>& groupList,
                                   bool* ok) {
  return locator::editLocator(locatorOptions(),
                              locator::Edit::kDelGroupsFromServer, server,
                              groupList, ok);
}

Status Daemon::listHostsInServer(const Caller&, std::string_view server,
                                 std::vector<std::string>* hostList, bool* ok) {
  return locator::listLocator(
      locatorOptions(), locator::Listing::kHostsInServer, server, hostList, ok);
}

Status Daemon::listHostsInGroup(const Caller&, std::string_view group,
                                std::vector<std::string>* hostList, bool* ok) {
  return locator::listLocator(locatorOptions(), locator::Listing::kHostsInGroup,
                              group, hostList, ok);
}

Status Daemon::listGroupsInServer(const Caller&, std::string_view server,
                                  std::vector<std::string>* groupList,
                                  bool* ok) {
  return locator::listLocator(locatorOptions(),
                              locator::Listing::kGroupsInServer, server,
                              groupList, ok);
}

}  // namespace talvo::interface
