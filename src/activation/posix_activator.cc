#include "activation/posix_activator.h"

#include "platform/process.h"
#include "runtime/config/trace_stream.h"

namespace talvo {
namespace {

constexpr const char* kNullMarker = "QV_nullMarker";

// Whether the process of an automatically launched record still runs as
// the server it was launched as. A child of this daemon is known by its
// process id. A process taken over from an earlier daemon must still carry
// the launch environment it was started with (server name and port), or
// its id now belongs to another program and the server counts as ended.
bool launchedProcessRuns(std::int32_t pid, const std::string& server,
                         const std::string& port) {
  if (platform::isOwnChild(pid)) return platform::isChildRunning(pid);
  std::vector<std::pair<std::string, std::string>> expected = {
      {"QV_SERVER_NAME", server}};
  if (!port.empty()) expected.emplace_back("QV_SERVER_PORT", port);
  return platform::isProcessAlive(pid) &&
         platform::processStartedWith(pid, expected);
}

}  // namespace

Status PosixActivator::launchServer(const LaunchRequest& request) {
  if (child_limit_ != 0 && platform::runningChildCount() >= child_limit_) {
    traceStream() << " " << child_limit_
                  << " launched servers run already, not launching "
                  << request.server << endl;
    return fail<CORBA::IMP_LIMIT>(kMinorTooManyChildren, request.server);
  }
  // Only the environment shows empty markers as "QV_nullMarker".
  std::string envMarker = request.marker.empty() ? kNullMarker : request.marker;
  std::string envPattern =
      request.markerPattern.empty() ? kNullMarker : request.markerPattern;
  // A variable that cannot be set does not stop the launch.
  setLaunchEnvironment(request.comms, request.port, request.iiopPort,
                       request.daemonPort, request.code, request.server,
                       envMarker, envPattern, request.method, request.policy);

  std::vector<platform::EnvChange> changes;
  for (auto& [name, value] : launchEnvironmentChanges()) {
    changes.push_back({name, value});
  }
  platform::SpawnResult child =
      request.account
          ? platform::spawnProcessAs(request.command, changes, *request.account)
          : platform::spawnProcess(request.command, changes);
  if (!child.ok() || !platform::checkChildRunning(child.pid)) {
    return fail<CORBA::NO_IMPLEMENT>(10202, request.server);
  }

  OptionalText principal;
  if (request.modeFlags == 2) {
    principal = std::to_string(child.pid);
  } else if (request.modeFlags == 1) {
    principal = request.principal;
  }

  // A per-method launch (no pattern, a method) is not recorded: every such
  // request starts a process of its own. Otherwise the process is recorded
  // under its pattern, which may be empty.
  if (request.markerPattern.empty() && !request.method.empty()) return nullptr;
  return registerActivation(request.server, request.markerPattern,
                            LaunchStatus::automaticLaunch, request.code,
                            request.comms, request.port, request.iiopPort,
                            processIdBuffer(child.pid), principal);
}

Status PosixActivator::terminateServer(const std::string& server,
                                       const std::string& marker,
                                       const OptionalText& principal) {
  LaunchRecord* record = getLaunchRecord(server, marker, principal);
  if (record == nullptr) return fail<CORBA::BAD_OPERATION>(10244, server);
  // A process known to have ended is not signalled: its id may belong to
  // another process by now. Nor is a registered process that does not hold
  // its server's connection: a persistent server names its own process id,
  // and a client must not be able to have the daemon signal any process.
  std::int32_t pid = record->processId();
  if (record->status == LaunchStatus::manualLaunch &&
      !runtime().channelHeldBy(server, runtime().localHostName(), pid)) {
    traceStream() << " process " << pid << " does not hold the connection of "
                  << server << ", not signalled " << endl;
    return nullptr;
  }
  bool runs = record->status == LaunchStatus::automaticLaunch
                  ? launchedProcessRuns(pid, server, record->port)
                  : platform::isProcessAlive(pid);
  if (runs) platform::terminateProcess(pid);
  return nullptr;
}

LaunchRecord* PosixActivator::isServerAlive(const std::string& server,
                                            const std::string& marker,
                                            const OptionalText& principal) {
  LaunchRecord* record = getLaunchRecord(server, marker, principal);
  if (record == nullptr) return nullptr;
  std::int32_t pid = record->processId();
  bool alive = false;
  switch (record->status) {
    case LaunchStatus::automaticLaunch:
      alive = launchedProcessRuns(pid, server, record->port);
      break;
    case LaunchStatus::manualLaunch: {
      std::optional<std::int32_t> reported =
          runtime().channelProcessId(server, "*", runtime().localHostName());
      alive = reported && *reported == pid;
      break;
    }
    case LaunchStatus::inActive:
      break;
  }
  if (alive) return record;
  if (isNumericPrincipal(principal)) {
    deleteActivation(server, marker, principal);
  }
  return nullptr;
}

}  // namespace talvo
