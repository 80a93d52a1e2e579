// The operation table of the daemon's interface "QV_daemon".
//
// One entry per operation, in the order in which the dispatcher tries the
// names: the exact (case-sensitive) name, the signature text that gives the
// marshalling of its arguments, result and call mode, and whether protected
// mode checks the caller before the operation does anything. The server's
// dispatch (daemon_dispatch.h) and the client stubs both marshal by these
// signatures, so that the two ends cannot drift apart.
//
// Thread safety: the table is immutable; daemonSignature() parses each
// signature once, on first use, under a static initialiser.

#ifndef TALVO_INTERFACE_DAEMON_OPERATIONS_H_
#define TALVO_INTERFACE_DAEMON_OPERATIONS_H_

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "runtime/protocol/signature.h"

namespace talvo::interface {

// The interface name under which requests reach the daemon object (which
// has the empty marker), and its repository id.
inline constexpr std::string_view kDaemonInterfaceName = "QV_daemon";
inline constexpr std::string_view kDaemonRepositoryId = "IDL:QV_daemon:1.0";

// The type descriptions of QV_daemon::LaunchStatus and
// QV_daemon::serverDetails (the element of listActiveServers' sequence).
inline constexpr std::string_view kLaunchStatusType =
    "E~QV_daemon::LaunchStatus~inActive,manualLaunch,automaticLaunch";
inline constexpr std::string_view kServerDetailsType =
    "R~QV_daemon::serverDetails~server{0},marker{0},principal{0},code{0},"
    "comms{0},port{0},OSspecific{ul},status{E~QV_daemon::LaunchStatus~"
    "inActive,manualLaunch,automaticLaunch}";

// The operations in table order (the value is the position in the table).
enum class DaemonOp : std::size_t {
  kGetImplementationDetails,
  kGetIIOPDetails,
  kRegisterPersistentServer,
  kLookUp,
  kAddHostsToServer,
  kAddHostsToGroup,
  kAddGroupsToServer,
  kDelHostsFromServer,
  kDelHostsFromGroup,
  kDelGroupsFromServer,
  kListHostsInServer,
  kListHostsInGroup,
  kListGroupsInServer,
  kListActiveServers,
  kKillServer,
  kNewSharedServer,
  kNewSharedServer2,
  kNewUnSharedServer,
  kNewPerMethodServer,
  kListServers,
  kDeleteServer,
  kServerExists,
  kGetServer,
  kGetServer2,
  kAddMarker,
  kRemoveMarker,
  kAddUnsharedMarker,
  kRemoveUnsharedMarker,
  kAddSharedMarker,
  kRemoveSharedMarker,
  kAddMethod,
  kRemoveMethod,
  kNewDirectory,
  kDeleteDirectory,
  kChangeOwnerServer,
  kChangeOwnerDir,
  kAddInvokeRights,
  kRemoveInvokeRights,
  kAddLaunchRights,
  kRemoveLaunchRights,
  kAddInvokeRightsDir,
  kRemoveInvokeRightsDir,
  kAddLaunchRightsDir,
  kRemoveLaunchRightsDir,
  kAddDirRights,
  kRemoveDirRights,
  kRegisterServerAsLegacy,
};

inline constexpr std::size_t kDaemonOperationCount = 47;

struct DaemonOperation {
  DaemonOp op;
  std::string_view name;       // exact, case counts
  std::string_view signature;  // "Ro~name~params,>{result},N{}"
  bool access_check;           // protected mode checks the caller first
};

// The whole table, in table order.
std::span<const DaemonOperation> daemonOperations();
// The entry of `op`.
const DaemonOperation& daemonOperation(DaemonOp op);
// The operation of exactly `name` (case counts), or nullopt.
std::optional<DaemonOp> findDaemonOperation(std::string_view name);
// The parsed signature of `op` (parsed once; the table's texts are valid).
const protocol::Signature& daemonSignature(DaemonOp op);

}  // namespace talvo::interface

#endif  // TALVO_INTERFACE_DAEMON_OPERATIONS_H_
