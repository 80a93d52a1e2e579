// The operation table of the daemon's interface "QV_daemon".
//
// TALVO_DAEMON_OPERATIONS is the one description of the interface: one
// entry per operation, in table order, giving the operation's C++ name,
// its exact (case-sensitive) name, whether protected mode checks the caller
// before the operation does anything (kChecked) or not (kOpen), its result
// type and its parameters (typed_operation.h). From it follow:
//   - DaemonOp, the operations in table order;
//   - op::<Name>, each operation as a type (signature text, request and
//     reply values);
//   - the client stubs (daemon_client.h);
//   - the daemon's dispatch of requests to its methods (the interface
//     layer's daemon_dispatch.h), which requires a Daemon method of the
//     operation's name and shape: (caller, ins..., out slots as pointers).
// A user of the macro defines X(Type, name, check, Result, params...).
//
// Thread safety: the table is immutable; daemonOperations() and
// daemonSignature() are built once, on first use, under static
// initialisers.

#ifndef TALVO_CLIENT_DAEMON_OPERATIONS_H_
#define TALVO_CLIENT_DAEMON_OPERATIONS_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "client/daemon_types.h"
#include "client/typed_operation.h"
#include "runtime/protocol/signature.h"

namespace talvo::client {

// The interface name under which requests reach the daemon object (which
// has the empty marker), and its repository id.
inline constexpr std::string_view kDaemonInterfaceName = "QV_daemon";
inline constexpr std::string_view kDaemonRepositoryId = "IDL:QV_daemon:1.0";

template <>
struct EnumDesc<LaunchStatus> {
  static constexpr std::string_view name = "QV_daemon::LaunchStatus";
  static constexpr std::string_view enumerators =
      "inActive,manualLaunch,automaticLaunch";
};

template <>
struct RecordDesc<ServerDetails> {
  static constexpr std::string_view name = "QV_daemon::serverDetails";
  using Fields = std::tuple<Field<"server", &ServerDetails::server>,
                            Field<"marker", &ServerDetails::marker>,
                            Field<"principal", &ServerDetails::principal>,
                            Field<"code", &ServerDetails::code>,
                            Field<"comms", &ServerDetails::comms>,
                            Field<"port", &ServerDetails::port>,
                            Field<"OSspecific", &ServerDetails::osSpecific>,
                            Field<"status", &ServerDetails::status>>;
};

namespace wire {
using Str = std::string;
using Octet = std::uint8_t;
using Long = std::int32_t;
using ULong = std::uint32_t;
using Details = ServerDetails;
using Impl = ImplementationDetails;
using Iiop = IiopDetails;
using Persistent = PersistentServerDetails;
using Desc = ServerDescription;
inline constexpr bool kOpen = false;
inline constexpr bool kChecked = true;
}  // namespace wire

// clang-format off
// The rights operations: (userGroup, server or directory name).
#define TALVO_DAEMON_NAME_PAIR(X, Verb, verb, Object, Key)                    \
  X(Verb##Object, verb##Object, kChecked, void,                               \
    In<"userGroup", Str>, In<Key, Str>)

#define TALVO_DAEMON_OPERATIONS(X)                                            \
  X(GetImplementationDetails, getImplementationDetails, kOpen, void,          \
    In<"serverName", Str>, In<"markerName", Str>, In<"methodName", Str>,      \
    OutField<"codeProtocol", &Impl::codeProtocol>,                            \
    OutField<"commsProtocol", &Impl::commsProtocol>,                          \
    OutField<"commsPort", &Impl::commsPort>,                                  \
    OutField<"activationPolicy", &Impl::activationPolicy>)                    \
  X(GetIIOPDetails, getIIOPDetails, kOpen, void,                              \
    In<"serverName", Str>, In<"markerName", Str>, In<"methodName", Str>,      \
    OutField<"iiopPort", &Iiop::iiopPort>,                                    \
    OutField<"activationPolicy", &Iiop::activationPolicy>)                    \
  X(RegisterPersistentServer, registerPersistentServer, kOpen, void,          \
    In<"serverName", Str>, In<"serverPid", ULong>,                            \
    OutField<"codeProtocol", &Persistent::codeProtocol>,                      \
    OutField<"commsProtocol", &Persistent::commsProtocol>,                    \
    OutField<"commsPort", &Persistent::commsPort>)                            \
  X(LookUp, lookUp, kOpen, bool,                                              \
    In<"service", Str>, Out<"hostList", Strings>, In<"hops", Octet>,          \
    In<"tag", Str>)                                                           \
  X(AddHostsToServer, addHostsToServer, kOpen, bool,                          \
    In<"server", Str>, In<"hostList", Strings>)                               \
  X(AddHostsToGroup, addHostsToGroup, kOpen, bool,                            \
    In<"group", Str>, In<"hostList", Strings>)                                \
  X(AddGroupsToServer, addGroupsToServer, kOpen, bool,                        \
    In<"server", Str>, In<"groupList", Strings>)                              \
  X(DelHostsFromServer, delHostsFromServer, kOpen, bool,                      \
    In<"server", Str>, In<"hostList", Strings>)                               \
  X(DelHostsFromGroup, delHostsFromGroup, kOpen, bool,                        \
    In<"group", Str>, In<"hostList", Strings>)                                \
  X(DelGroupsFromServer, delGroupsFromServer, kOpen, bool,                    \
    In<"server", Str>, In<"groupList", Strings>)                              \
  X(ListHostsInServer, listHostsInServer, kOpen, bool,                        \
    In<"server", Str>, Out<"hostList", Strings>)                              \
  X(ListHostsInGroup, listHostsInGroup, kOpen, bool,                          \
    In<"group", Str>, Out<"hostList", Strings>)                               \
  X(ListGroupsInServer, listGroupsInServer, kOpen, bool,                      \
    In<"server", Str>, Out<"groupList", Strings>)                             \
  X(ListActiveServers, listActiveServers, kOpen, void,                        \
    Out<"servers", std::vector<Details>>)                                     \
  X(KillServer, killServer, kChecked, void,                                   \
    In<"name", Str>, In<"marker", Str>)                                       \
  X(NewSharedServer, newSharedServer, kChecked, void,                         \
    In<"serverName", Str>, In<"marker", Strings>,                             \
    In<"launchCommand", Strings>, In<"mode_flags", ULong>)                    \
  X(NewSharedServer2, newSharedServer2, kChecked, void,                       \
    In<"serverName", Str>, In<"marker", Strings>,                             \
    In<"launchCommand", Strings>, In<"mode_flags", ULong>,                    \
    In<"nservers", ULong>, In<"wellKnownPort", Long>)                         \
  X(NewUnSharedServer, newUnSharedServer, kChecked, void,                     \
    In<"serverName", Str>, In<"marker", Strings>,                             \
    In<"launchCommand", Strings>, In<"mode_flags", ULong>)                    \
  X(NewPerMethodServer, newPerMethodServer, kChecked, void,                   \
    In<"serverName", Str>, In<"method", Strings>,                             \
    In<"launchCommand", Strings>)                                             \
  X(ListServers, listServers, kOpen, void,                                    \
    In<"subdir", Str>, Out<"servers", Strings>)                               \
  X(DeleteServer, deleteServer, kChecked, void, In<"serverName", Str>)        \
  X(ServerExists, serverExists, kOpen, bool, In<"serverName", Str>)           \
  X(GetServer, getServer, kOpen, void,                                        \
    In<"serverName", Str>,                                                    \
    OutField<"commsProtocol", &Desc::commsProtocol>,                          \
    OutField<"codeProtocol", &Desc::codeProtocol>,                            \
    OutField<"activationPolicy", &Desc::activationPolicy>,                    \
    OutField<"mode_flags", &Desc::modeFlags>,                                 \
    OutField<"owner", &Desc::owner>,                                          \
    OutField<"invokeList", &Desc::invokeList>,                                \
    OutField<"launchList", &Desc::launchList>,                                \
    OutField<"markers", &Desc::markers>,                                      \
    OutField<"methods", &Desc::methods>,                                      \
    OutField<"commands", &Desc::commands>)                                    \
  X(GetServer2, getServer2, kOpen, void,                                      \
    In<"serverName", Str>,                                                    \
    OutField<"commsProtocol", &Desc::commsProtocol>,                          \
    OutField<"codeProtocol", &Desc::codeProtocol>,                            \
    OutField<"activationPolicy", &Desc::activationPolicy>,                    \
    OutField<"mode_flags", &Desc::modeFlags>,                                 \
    OutField<"owner", &Desc::owner>,                                          \
    OutField<"invokeList", &Desc::invokeList>,                                \
    OutField<"launchList", &Desc::launchList>,                                \
    OutField<"nservers", &Desc::nservers>,                                    \
    OutField<"port", &Desc::port>,                                            \
    OutField<"markers", &Desc::markers>,                                      \
    OutField<"methods", &Desc::methods>,                                      \
    OutField<"commands", &Desc::commands>)                                    \
  X(AddMarker, addMarker, kChecked, void,                                     \
    In<"serverName", Str>, In<"markerName", Str>, In<"newCommand", Str>)      \
  X(RemoveMarker, removeMarker, kChecked, void,                               \
    In<"serverName", Str>, In<"markerName", Str>)                             \
  X(AddUnsharedMarker, addUnsharedMarker, kChecked, void,                     \
    In<"serverName", Str>, In<"markerName", Str>, In<"newCommand", Str>)      \
  X(RemoveUnsharedMarker, removeUnsharedMarker, kChecked, void,               \
    In<"serverName", Str>, In<"markerName", Str>)                             \
  X(AddSharedMarker, addSharedMarker, kChecked, void,                         \
    In<"serverName", Str>, In<"markerName", Str>, In<"newCommand", Str>)      \
  X(RemoveSharedMarker, removeSharedMarker, kChecked, void,                   \
    In<"serverName", Str>, In<"markerName", Str>)                             \
  X(AddMethod, addMethod, kChecked, void,                                     \
    In<"serverName", Str>, In<"methodName", Str>, In<"newCommand", Str>)      \
  X(RemoveMethod, removeMethod, kChecked, void,                               \
    In<"serverName", Str>, In<"methodName", Str>)                             \
  X(NewDirectory, newDirectory, kChecked, void, In<"dirName", Str>)           \
  X(DeleteDirectory, deleteDirectory, kChecked, void,                         \
    In<"dirName", Str>, In<"deleteChildren", bool>)                           \
  X(ChangeOwnerServer, changeOwnerServer, kChecked, void,                     \
    In<"new_owner", Str>, In<"serverName", Str>)                              \
  X(ChangeOwnerDir, changeOwnerDir, kChecked, void,                           \
    In<"new_owner", Str>, In<"dirName", Str>)                                 \
  TALVO_DAEMON_NAME_PAIR(X, Add, add, InvokeRights, "serverName")                \
  TALVO_DAEMON_NAME_PAIR(X, Remove, remove, InvokeRights, "serverName")          \
  TALVO_DAEMON_NAME_PAIR(X, Add, add, LaunchRights, "serverName")                \
  TALVO_DAEMON_NAME_PAIR(X, Remove, remove, LaunchRights, "serverName")          \
  TALVO_DAEMON_NAME_PAIR(X, Add, add, InvokeRightsDir, "dirName")                \
  TALVO_DAEMON_NAME_PAIR(X, Remove, remove, InvokeRightsDir, "dirName")          \
  TALVO_DAEMON_NAME_PAIR(X, Add, add, LaunchRightsDir, "dirName")                \
  TALVO_DAEMON_NAME_PAIR(X, Remove, remove, LaunchRightsDir, "dirName")          \
  TALVO_DAEMON_NAME_PAIR(X, Add, add, DirRights, "dirName")                      \
  TALVO_DAEMON_NAME_PAIR(X, Remove, remove, DirRights, "dirName")                \
  X(RegisterServerAsLegacy, registerServerAsLegacy, kOpen, void,              \
    In<"onoff", bool>)
// clang-format on

// The operations in table order (the value is the position in the table).
enum class DaemonOp : std::size_t {
#define TALVO_DAEMON_OP_ENUM(Type, ...) k##Type,
  TALVO_DAEMON_OPERATIONS(TALVO_DAEMON_OP_ENUM)
#undef TALVO_DAEMON_OP_ENUM
};

#define TALVO_DAEMON_OP_COUNT(...) +1
inline constexpr std::size_t kDaemonOperationCount =
    0 TALVO_DAEMON_OPERATIONS(TALVO_DAEMON_OP_COUNT);
#undef TALVO_DAEMON_OP_COUNT

// Each operation as a type: op::GetServer2::signature(), ...
namespace op {
using namespace wire;  // NOLINT: the table's short type names
#define TALVO_DAEMON_OP_TYPE(Type, name, check, Result, ...) \
  struct Type                                                \
      : Operation<DaemonOp::k##Type, #name, check, Result, __VA_ARGS__> {};
TALVO_DAEMON_OPERATIONS(TALVO_DAEMON_OP_TYPE)
#undef TALVO_DAEMON_OP_TYPE
}  // namespace op

// An entry of the table as data.
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

}  // namespace talvo::client

#endif  // TALVO_CLIENT_DAEMON_OPERATIONS_H_
