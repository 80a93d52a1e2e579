// Daemon: the daemon object that implements the interface "QV_daemon".
//
// One Daemon per process, made at start-up with Daemon::create() and kept
// until the process ends. It owns the implementation repository and the
// protected-mode check, and carries the legacy flag: while it is set, new
// records get the code protocol "xdr" instead of "cdr". A create call whose
// server name ends in BEL (code 7) creates the record under the name
// without it, with "xdr", and clears the flag when it ends, whatever the
// flag was before.
//
// There is one method per interface operation, of the operation's name and
// shape in the table (client/daemon_operations.h): the Caller (the
// request's principal and connection), the in arguments, then a pointer per
// out slot (the reply struct or each out argument, then the result). Each
// fills its outs and returns null or the exception for the reply
// (COMPLETED_NO; a failed operation has changed nothing). Operations marked
// in the table run checkAccess() first. The dispatch (daemon_dispatch.h) is
// generated from the table and turns requests into these calls.
//
// The operations of activation and binding go to the binding service over
// the Activator given in the options; without them they answer NO_IMPLEMENT
// 10200 with the operation's name as detail (daemon_pending.cc). The
// locator's operations (daemon_locator.cc) work on the host and group files
// in QV_LOCATOR_PATH; lookUp answers through a callback, at once or, when
// the question goes on to another daemon, once that daemon answered or the
// wait (options.locator_wait_ms) ran out, while the loop serves others.
//
// Thread safety: none; one thread (the event loop's) calls every method.

#ifndef TALVO_INTERFACE_DAEMON_H_
#define TALVO_INTERFACE_DAEMON_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "imprep/repository.h"
#include "imprep/trace.h"
#include "interface/access_check.h"
#include "interface/daemon_types.h"
#include "platform/stamped_file.h"
#include "runtime/except/exception.h"

namespace talvo {
class Activator;
class BindingService;
class PortAllocator;
class RuntimeConfig;
}  // namespace talvo
namespace talvo {
class Orb;
}  // namespace talvo
namespace talvo::checkpoint {
class DaemonCheckPoint;
}  // namespace talvo::checkpoint
namespace talvo::locator {
class LocatorService;
struct LocatorOptions;
}  // namespace talvo::locator

namespace talvo::interface {

// NO_IMPLEMENT minor of an operation whose subsystem is not built yet.
inline constexpr std::uint32_t kMinorNotImplemented = 10200;

// What the daemon program hands to the daemon object (its settings).
struct DaemonOptions {
  // Accept persistent servers that have no record (setting "UPS").
  bool unregistered_persistent_servers = false;
  // Setting "ReapTime"; kept, nothing depends on it.
  int reap_time = 20;
  // Protected mode (setting "Protected").
  bool protected_mode = false;
  // Setting "LaunchAs" is "owner" and the daemon runs as root: servers are
  // launched as the local account owning their record.
  bool launch_as_owner = false;
  // The interoperable-reference file, when one is to be written.
  std::optional<std::string> interop_file;
  // An extra launch setting (none in both programs).
  std::optional<std::string> extra_launch;
  // The run time's configuration (null: runtimeConfig()). Not owned.
  RuntimeConfig* config = nullptr;
  // Trace lines of the daemon and its repository (empty: none).
  imprep::TraceSink trace;
  // Standard output and error (null: std::cout, std::cerr). Not owned.
  std::ostream* out = nullptr;
  std::ostream* err = nullptr;
  // Name-service lookups of the access check (null: the platform's).
  std::shared_ptr<HostLookups> lookups;
  // The user the process runs as (empty: the platform's user name); only
  // read in protected mode.
  std::string daemon_user;
  // The activator (made over the run time) and the port allocator of the
  // start-up code; not owned, they must outlive the daemon. With both the
  // daemon runs its binding service on them; without, the binding and
  // activation operations answer NO_IMPLEMENT.
  Activator* activator = nullptr;
  PortAllocator* ports = nullptr;
  // The checkpoint object of the start-up code (not owned; may be null).
  // When it has a reading file, construction takes over the servers it
  // lists through the activator (transferState).
  checkpoint::DaemonCheckPoint* checkpoint = nullptr;
  // The run time through which lookUp reaches other daemons (not owned;
  // null: questions are not passed on), and how long a passed question
  // may wait for the other daemon's answer.
  Orb* orb = nullptr;
  int locator_wait_ms = 5000;
  // Faults injected into the saves of the locator's files (tests).
  platform::BackupHook locator_save_hook;
};

// The end of a lookUp: the exception of the reply (null: none), the hosts
// and the boolean result.
using LookUpDone =
    std::function<void(Status, std::vector<std::string> hostList, bool ok)>;

class Daemon {
 public:
  // Builds the daemon on the repository root `imp_rep_path` (the value of
  // QV_IMP_REP_PATH; null when unset). Stores the daemon's identity in the
  // run time's configuration (server name "QV_daemon", port QV_DAEMON_PORT,
  // transport "TCP", encoding "Talvo-XDR") and, in protected mode, writes
  // "Running in protected mode as user `<user>' ]" after the trace-line
  // prefix to standard output when the diagnostics level is not 0. Fails
  // with the repository's exceptions (INTERNAL 10144, 10148, 10149).
  static Status create(const char* imp_rep_path, DaemonOptions options,
                       std::unique_ptr<Daemon>* out);
  ~Daemon();
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  imprep::ImpRepository& repository() { return *repository_; }
  const DaemonOptions& options() const { return options_; }
  bool legacy() const { return legacy_; }
  bool protectedMode() const { return access_.protectedMode(); }
  // The user the daemon runs as (empty unless in protected mode).
  const std::string& daemonUser() const { return access_.daemonUser(); }

  // The protected-mode check (access_check.h).
  Status checkAccess(const Caller& caller) const;

  // ---- Binding (with an activator; else NO_IMPLEMENT) ------------------
  Status getImplementationDetails(const Caller& caller,
                                  std::string_view serverName,
                                  std::string_view markerName,
                                  std::string_view methodName,
                                  ImplementationDetails* out);
  Status getIIOPDetails(const Caller& caller, std::string_view serverName,
                        std::string_view markerName,
                        std::string_view methodName, IiopDetails* out);
  Status registerPersistentServer(const Caller& caller,
                                  std::string_view serverName,
                                  std::uint32_t serverPid,
                                  PersistentServerDetails* out);

  // ---- Locator ---------------------------------------------------------
  // `done` runs once, inside this call or later on the loop's thread.
  void lookUp(const Caller& caller, std::string_view service, std::uint8_t hops,
              std::string_view tag, LookUpDone done);
  // The edits and listings; `*ok` is the operation's boolean result (true
  // with an exception when some items failed and others were applied).
  Status addHostsToServer(const Caller& caller, std::string_view server,
                          const std::vector<std::string>& hostList, bool* ok);
  Status addHostsToGroup(const Caller& caller, std::string_view group,
                         const std::vector<std::string>& hostList, bool* ok);
  Status addGroupsToServer(const Caller& caller, std::string_view server,
                           const std::vector<std::string>& groupList, bool* ok);
  Status delHostsFromServer(const Caller& caller, std::string_view server,
                            const std::vector<std::string>& hostList, bool* ok);
  Status delHostsFromGroup(const Caller& caller, std::string_view group,
                           const std::vector<std::string>& hostList, bool* ok);
  Status delGroupsFromServer(const Caller& caller, std::string_view server,
                             const std::vector<std::string>& groupList,
                             bool* ok);
  Status listHostsInServer(const Caller& caller, std::string_view server,
                           std::vector<std::string>* hostList, bool* ok);
  Status listHostsInGroup(const Caller& caller, std::string_view group,
                          std::vector<std::string>* hostList, bool* ok);
  Status listGroupsInServer(const Caller& caller, std::string_view server,
                            std::vector<std::string>* groupList, bool* ok);

  // ---- Activation (options.activator; else NO_IMPLEMENT) ---------------
  Status listActiveServers(const Caller& caller,
                           std::vector<ServerDetails>* servers);
  // Runs the access check first.
  Status killServer(const Caller& caller, std::string_view name,
                    std::string_view marker);

  // ---- Creating servers ------------------------------------------------
  // `markers` and `commands` pair up by position; the count is the number
  // of markers (extra commands are ignored; a marker without a command is
  // BAD_PARAM 10030, a method without one 10031, with the key as detail).
  // The repository refuses more than 511 entries.
  Status newSharedServer(const Caller& caller, std::string_view serverName,
                         const std::vector<std::string>& markers,
                         const std::vector<std::string>& commands,
                         std::uint32_t modeFlags);
  Status newSharedServer2(const Caller& caller, std::string_view serverName,
                          const std::vector<std::string>& markers,
                          const std::vector<std::string>& commands,
                          std::uint32_t modeFlags, std::uint32_t nservers,
                          std::int32_t wellKnownPort);
  Status newUnSharedServer(const Caller& caller, std::string_view serverName,
                           const std::vector<std::string>& markers,
                           const std::vector<std::string>& commands,
                           std::uint32_t modeFlags);
  Status newPerMethodServer(const Caller& caller, std::string_view serverName,
                            const std::vector<std::string>& methods,
                            const std::vector<std::string>& commands);

  // ---- Reading (no access check, any principal) ------------------------
  Status listServers(const Caller& caller, std::string_view subdir,
                     std::vector<std::string>* servers);
  // Never fails.
  Status serverExists(const Caller& caller, std::string_view serverName,
                      bool* exists);
  // getServer is getServer2 without nservers and port (left 0).
  Status getServer(const Caller& caller, std::string_view serverName,
                   ServerDescription* out);
  Status getServer2(const Caller& caller, std::string_view serverName,
                    ServerDescription* out);

  // ---- Changing records and directories (access check first) -----------
  Status deleteServer(const Caller& caller, std::string_view serverName);
  Status addMarker(const Caller& caller, std::string_view serverName,
                   std::string_view markerName, std::string_view newCommand);
  Status removeMarker(const Caller& caller, std::string_view serverName,
                      std::string_view markerName);
  Status addUnsharedMarker(const Caller& caller, std::string_view serverName,
                           std::string_view markerName,
                           std::string_view newCommand);
  Status removeUnsharedMarker(const Caller& caller, std::string_view serverName,
                              std::string_view markerName);
  Status addSharedMarker(const Caller& caller, std::string_view serverName,
                         std::string_view markerName,
                         std::string_view newCommand);
  Status removeSharedMarker(const Caller& caller, std::string_view serverName,
                            std::string_view markerName);
  Status addMethod(const Caller& caller, std::string_view serverName,
                   std::string_view methodName, std::string_view newCommand);
  Status removeMethod(const Caller& caller, std::string_view serverName,
                      std::string_view methodName);
  Status newDirectory(const Caller& caller, std::string_view dirName);
  Status deleteDirectory(const Caller& caller, std::string_view dirName,
                         bool deleteChildren);
  Status changeOwnerServer(const Caller& caller, std::string_view newOwner,
                           std::string_view serverName);
  Status changeOwnerDir(const Caller& caller, std::string_view newOwner,
                        std::string_view dirName);
  Status addInvokeRights(const Caller& caller, std::string_view userGroup,
                         std::string_view serverName);
  Status removeInvokeRights(const Caller& caller, std::string_view userGroup,
                            std::string_view serverName);
  Status addLaunchRights(const Caller& caller, std::string_view userGroup,
                         std::string_view serverName);
  Status removeLaunchRights(const Caller& caller, std::string_view userGroup,
                            std::string_view serverName);
  Status addInvokeRightsDir(const Caller& caller, std::string_view userGroup,
                            std::string_view dirName);
  Status removeInvokeRightsDir(const Caller& caller, std::string_view userGroup,
                               std::string_view dirName);
  Status addLaunchRightsDir(const Caller& caller, std::string_view userGroup,
                            std::string_view dirName);
  Status removeLaunchRightsDir(const Caller& caller, std::string_view userGroup,
                               std::string_view dirName);
  Status addDirRights(const Caller& caller, std::string_view userGroup,
                      std::string_view dirName);
  Status removeDirRights(const Caller& caller, std::string_view userGroup,
                         std::string_view dirName);

  // ---- Legacy mode -------------------------------------------------------
  // Never fails.
  Status registerServerAsLegacy(const Caller& caller, bool onoff);

 private:
  Daemon(DaemonOptions options, std::unique_ptr<imprep::ImpRepository> rep,
         AccessCheck access);

  // The create operations' common steps: the BEL rule, the access check,
  // pairing keys with commands, then `create` with the name and entries.
  template <class Create>
  Status createServer(const Caller& caller, std::string_view serverName,
                      const std::vector<std::string>& keys,
                      const std::vector<std::string>& commands,
                      std::uint32_t keyMinor, Create create);
  Status describe(std::string_view serverName, ServerDescription* out);
  // Re-registers the servers the checkpoint file lists as running and
  // drops those that ended (checkpoint/daemon_checkpoint.h).
  void transferState(const std::string& path, CORBA::Environment& env);
  RuntimeConfig& runtime();
  locator::LocatorOptions locatorOptions();

  DaemonOptions options_;
  std::unique_ptr<imprep::ImpRepository> repository_;
  std::unique_ptr<BindingService> binding_;  // null without an activator
  AccessCheck access_;
  bool legacy_ = false;
  // Made on the first lookUp and kept.
  std::unique_ptr<locator::LocatorService> locator_;
};

}  // namespace talvo::interface

#endif  // TALVO_INTERFACE_DAEMON_H_
