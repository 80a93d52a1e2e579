// Activator: the daemon's record of the server processes running on this
// host, and the launching, liveness testing and termination of them.
//
// The activator owns a LaunchTable of LaunchRecords, one per process it
// launched (status automaticLaunch) or that registered itself (status
// manualLaunch), and the launch environment of the last launch. Operations
// that can fail return a Status (null on success) and never throw.
//
// Activator is the platform-independent base: the table, registration,
// listing, killing and the launch environment. The platform variant
// (PosixActivator) supplies launchServer, terminateServer and isServerAlive.
//
// Every trace line goes to traceStream(), whatever the diagnostics level.
//
// Thread safety: none. Only the daemon's event-loop thread calls it.

#ifndef TALVO_ACTIVATION_ACTIVATOR_H_
#define TALVO_ACTIVATION_ACTIVATOR_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "activation/activator_hooks.h"
#include "activation/launch_table.h"
#include "platform/process.h"
#include "runtime/except/exception.h"

namespace talvo {

using OptionalText = std::optional<std::string>;

// One element of listActiveServers (QV_daemon::serverDetails).
using client::ServerDetails;

// The arguments of a launch, in the order the binding service passes them.
struct LaunchRequest {
  std::string server;
  std::string marker;         // the requested marker
  std::string markerPattern;  // the pattern the process is recorded under
  std::string method;         // set for a per-method launch
  std::string command;        // the launch command, words split at blanks
  OptionalText principal;     // the requesting client
  int modeFlags = 0;  // 0 none, 1 per client, 2 per client pid, 3/4 round robin
  std::string code;
  std::string comms;
  std::string port;      // comms port, decimal text
  std::string iiopPort;  // decimal text
  std::uint16_t daemonPort = 0;
  int policy = 0;  // 0 shared, 1 unshared, 2 per-method
  // The account the server runs as; none: the daemon's own.
  std::optional<platform::Account> account;
};

// The ten launch variables, in the order they are set.
inline constexpr const char* kLaunchVariables[] = {
    "QV_SERVER_COMMS",   "QV_SERVER_PORT",   "QV_IIOP_PORT",
    "QV_SERVER_CODE",    "QV_SERVER_NAME",   "QV_SERVER_MARKER",
    "QV_MARKER_PATTERN", "QV_SERVER_METHOD", "QV_ACT_POLICY",
    "QV_WELL_KNOWN_PORT"};
inline constexpr std::size_t kLaunchEnvironmentCapacity = 10;

class Activator {
 public:
  // `runtime` must outlive the activator. `checkpoint` may be null (a
  // checkpoint that does nothing is used); if given it must outlive the
  // activator. Writes " new has tab ".
  explicit Activator(ActivationRuntime& runtime,
                     ActivationCheckpoint* checkpoint = nullptr);
  virtual ~Activator();
  Activator(const Activator&) = delete;
  Activator& operator=(const Activator&) = delete;

  // Starts the server of `request` with its launch environment and records
  // it. NO_IMPLEMENT 10202 (detail the server) when the process could not
  // be started or had ended already; INTERNAL 10146 when it cannot be
  // recorded.
  virtual Status launchServer(const LaunchRequest& request) = 0;

  // Records a running process, re-using the record that getLaunchRecord
  // finds (a stored pattern may absorb the registration) or inserting a new
  // one under the key of server, marker and principal. `osSpecific` (the
  // process id buffer) passes in. INTERNAL 10146 when the insertion fails.
  virtual Status registerActivation(
      const std::string& server, const std::string& marker, LaunchStatus status,
      const std::string& code, const std::string& comms,
      const std::string& port, const std::string& iiopPort,
      std::vector<std::uint8_t> osSpecific, const OptionalText& principal);

  // Whether `pid` is registered (manualLaunch) as a process of `server`:
  // its channel to the daemon is never closed to make room for others.
  bool isRegisteredProcess(const std::string& server, std::int32_t pid) const;

  // Asks the process of the record found to end. BAD_OPERATION 10244
  // (detail the server) when there is no record.
  virtual Status terminateServer(const std::string& server,
                                 const std::string& marker,
                                 const OptionalText& principal) = 0;

  // The record of a live process for the three, or null. A dead process
  // whose principal reads as a non-zero integer loses its record. The
  // record stays owned by the activator.
  virtual LaunchRecord* isServerAlive(const std::string& server,
                                      const std::string& marker,
                                      const OptionalText& principal) = 0;

  // Sets the status of the record found; false when there is none.
  virtual bool updateActivation(const std::string& server,
                                const std::string& marker,
                                const OptionalText& principal,
                                LaunchStatus status);

  // Removes the first record in walk order whose stored key matches the
  // key of the three as a pattern; false when none matched.
  virtual bool deleteActivation(const std::string& server,
                                const std::string& marker,
                                const OptionalText& principal);

  // Forgets the launch environment of the last launch.
  virtual void clearLaunchEnvironment();
  // Sets the ten launch variables in order; stops at the first that fails
  // and returns its exception (OBJ_ADAPTER 10461).
  virtual Status setLaunchEnvironment(
      std::string_view comms, std::string_view port, std::string_view iiopPort,
      int wellKnownPort, std::string_view code, std::string_view server,
      std::string_view marker, std::string_view markerPattern,
      std::string_view method, int policy);
  // Adds NAME=value (absent value: empty) to the launch environment.
  // OBJ_ADAPTER 10461, COMPLETED_MAYBE, detail "QV_SERVER_COMMS" when ten
  // texts are held already or the text cannot be set.
  virtual Status setLaunchVariable(
      std::string_view name, const std::optional<std::string_view>& value);

  // The record stored under the key of the three, else the first record in
  // walk order whose stored key matches it as a pattern, else null.
  LaunchRecord* getLaunchRecord(const std::string& server,
                                const std::string& marker,
                                const OptionalText& principal);

  // The words of a command (separated by blanks) and their count.
  static std::vector<std::string> splitArguments(std::string_view command);
  static std::size_t countArguments(std::string_view command);

  // Appends every live process of the table, in walk order, to `out`.
  // Records that die during the walk may be removed on the way.
  virtual Status listActive(std::vector<ServerDetails>& out);

  // Terminates the process found and removes its record. BAD_OPERATION
  // 10241 (detail the launch key) for an empty server name; the exception
  // of terminateServer otherwise, the record kept.
  virtual Status killServer(const std::string& server,
                            const std::string& marker,
                            const OptionalText& principal);

  // Pings the object of server and marker on this host; false (and the
  // exception traced) when the request failed.
  virtual bool pingObject(const std::string& server, const std::string& marker,
                          const OptionalText& unused = std::nullopt);
  // Not available on this platform: says so on standard error, false.
  virtual bool pingServer(const OptionalText& unused = std::nullopt);

  // The NAME=value texts of the last launch, in the order they were set.
  const std::vector<std::string>& launchEnvironment() const {
    return environment_;
  }
  // The child's environment changes of the last launch: each of the ten
  // variables with its value, or removed when unset or empty.
  std::vector<std::pair<std::string, OptionalText>> launchEnvironmentChanges()
      const;

  const LaunchTable& table() const { return table_; }
  std::size_t size() const { return table_.size(); }

 protected:
  ActivationRuntime& runtime() { return runtime_; }
  ActivationCheckpoint& checkpoint() { return *checkpoint_; }
  // " LaunchTable(n records in 511 buckets)": the table in trace lines.
  std::string describeTable() const;

 private:
  ActivationRuntime& runtime_;
  ActivationCheckpoint defaultCheckpoint_;
  ActivationCheckpoint* checkpoint_;
  LaunchTable table_;
  std::vector<std::string> environment_;
};

// True when `principal` reads as a non-zero integer (a process id standing
// in for a principal).
bool isNumericPrincipal(const OptionalText& principal);

}  // namespace talvo

#endif  // TALVO_ACTIVATION_ACTIVATOR_H_
