#include "interface/daemon_operations.h"

#include <array>
#include <cstdlib>

namespace talvo::interface {
namespace {

#define TALVO_STRINGS "S{0},0"
#define TALVO_SERVER_DETAILS                                             \
  "R~QV_daemon::serverDetails~server{0},marker{0},principal{0},code{0}," \
  "comms{0},port{0},OSspecific{ul},status{E~QV_daemon::LaunchStatus~"    \
  "inActive,manualLaunch,automaticLaunch}"

using D = DaemonOp;

constexpr std::array<DaemonOperation, kDaemonOperationCount> kTable = {{
    {D::kGetImplementationDetails, "getImplementationDetails",
     "Ro~getImplementationDetails~+serverName{0},+markerName{0},"
     "+methodName{0},-codeProtocol{0},-commsProtocol{0},-commsPort{0},"
     "-activationPolicy{0},>{v},N{}",
     false},
    {D::kGetIIOPDetails, "getIIOPDetails",
     "Ro~getIIOPDetails~+serverName{0},+markerName{0},+methodName{0},"
     "-iiopPort{0},-activationPolicy{0},>{v},N{}",
     false},
    {D::kRegisterPersistentServer, "registerPersistentServer",
     "Ro~registerPersistentServer~+serverName{0},+serverPid{ul},"
     "-codeProtocol{0},-commsProtocol{0},-commsPort{0},>{v},N{}",
     false},
    {D::kLookUp, "lookUp",
     "Ro~lookUp~+service{0},-hostList{" TALVO_STRINGS
     "},+hops{o},+tag{0},>{b},N{}",
     false},
    {D::kAddHostsToServer, "addHostsToServer",
     "Ro~addHostsToServer~+server{0},+hostList{" TALVO_STRINGS "},>{b},N{}",
     false},
    {D::kAddHostsToGroup, "addHostsToGroup",
     "Ro~addHostsToGroup~+group{0},+hostList{" TALVO_STRINGS "},>{b},N{}",
     false},
    {D::kAddGroupsToServer, "addGroupsToServer",
     "Ro~addGroupsToServer~+server{0},+groupList{" TALVO_STRINGS "},>{b},N{}",
     false},
    {D::kDelHostsFromServer, "delHostsFromServer",
     "Ro~delHostsFromServer~+server{0},+hostList{" TALVO_STRINGS "},>{b},N{}",
     false},
    {D::kDelHostsFromGroup, "delHostsFromGroup",
     "Ro~delHostsFromGroup~+group{0},+hostList{" TALVO_STRINGS "},>{b},N{}",
     false},
    {D::kDelGroupsFromServer, "delGroupsFromServer",
     "Ro~delGroupsFromServer~+server{0},+groupList{" TALVO_STRINGS "},>{b},N{}",
     false},
    {D::kListHostsInServer, "listHostsInServer",
     "Ro~listHostsInServer~+server{0},-hostList{" TALVO_STRINGS "},>{b},N{}",
     false},
    {D::kListHostsInGroup, "listHostsInGroup",
     "Ro~listHostsInGroup~+group{0},-hostList{" TALVO_STRINGS "},>{b},N{}",
     false},
    {D::kListGroupsInServer, "listGroupsInServer",
     "Ro~listGroupsInServer~+server{0},-groupList{" TALVO_STRINGS "},>{b},N{}",
     false},
    {D::kListActiveServers, "listActiveServers",
     "Ro~listActiveServers~-servers{S{" TALVO_SERVER_DETAILS "},0},>{v},N{}",
     false},
    {D::kKillServer, "killServer", "Ro~killServer~+name{0},+marker{0},>{v},N{}",
     true},
    {D::kNewSharedServer, "newSharedServer",
     "Ro~newSharedServer~+serverName{0},+marker{" TALVO_STRINGS
     "},+launchCommand{" TALVO_STRINGS "},+mode_flags{ul},>{v},N{}",
     true},
    {D::kNewSharedServer2, "newSharedServer2",
     "Ro~newSharedServer2~+serverName{0},+marker{" TALVO_STRINGS
     "},+launchCommand{" TALVO_STRINGS
     "},+mode_flags{ul},+nservers{ul},+wellKnownPort{l},>{v},N{}",
     true},
    {D::kNewUnSharedServer, "newUnSharedServer",
     "Ro~newUnSharedServer~+serverName{0},+marker{" TALVO_STRINGS
     "},+launchCommand{" TALVO_STRINGS "},+mode_flags{ul},>{v},N{}",
     true},
    {D::kNewPerMethodServer, "newPerMethodServer",
     "Ro~newPerMethodServer~+serverName{0},+method{" TALVO_STRINGS
     "},+launchCommand{" TALVO_STRINGS "},>{v},N{}",
     true},
    {D::kListServers, "listServers",
     "Ro~listServers~+subdir{0},-servers{" TALVO_STRINGS "},>{v},N{}", false},
    {D::kDeleteServer, "deleteServer",
     "Ro~deleteServer~+serverName{0},>{v},N{}", true},
    {D::kServerExists, "serverExists",
     "Ro~serverExists~+serverName{0},>{b},N{}", false},
    {D::kGetServer, "getServer",
     "Ro~getServer~+serverName{0},-commsProtocol{0},-codeProtocol{0},"
     "-activationPolicy{0},-mode_flags{ul},-owner{0},-invokeList{0},"
     "-launchList{0},-markers{" TALVO_STRINGS "},-methods{" TALVO_STRINGS
     "},-commands{" TALVO_STRINGS "},>{v},N{}",
     false},
    {D::kGetServer2, "getServer2",
     "Ro~getServer2~+serverName{0},-commsProtocol{0},-codeProtocol{0},"
     "-activationPolicy{0},-mode_flags{ul},-owner{0},-invokeList{0},"
     "-launchList{0},-nservers{ul},-port{ul},-markers{" TALVO_STRINGS
     "},-methods{" TALVO_STRINGS "},-commands{" TALVO_STRINGS "},>{v},N{}",
     false},
    {D::kAddMarker, "addMarker",
     "Ro~addMarker~+serverName{0},+markerName{0},+newCommand{0},>{v},N{}",
     true},
    {D::kRemoveMarker, "removeMarker",
     "Ro~removeMarker~+serverName{0},+markerName{0},>{v},N{}", true},
    {D::kAddUnsharedMarker, "addUnsharedMarker",
     "Ro~addUnsharedMarker~+serverName{0},+markerName{0},+newCommand{0},"
     ">{v},N{}",
     true},
    {D::kRemoveUnsharedMarker, "removeUnsharedMarker",
     "Ro~removeUnsharedMarker~+serverName{0},+markerName{0},>{v},N{}", true},
    {D::kAddSharedMarker, "addSharedMarker",
     "Ro~addSharedMarker~+serverName{0},+markerName{0},+newCommand{0},"
     ">{v},N{}",
     true},
    {D::kRemoveSharedMarker, "removeSharedMarker",
     "Ro~removeSharedMarker~+serverName{0},+markerName{0},>{v},N{}", true},
    {D::kAddMethod, "addMethod",
     "Ro~addMethod~+serverName{0},+methodName{0},+newCommand{0},>{v},N{}",
     true},
    {D::kRemoveMethod, "removeMethod",
     "Ro~removeMethod~+serverName{0},+methodName{0},>{v},N{}", true},
    {D::kNewDirectory, "newDirectory", "Ro~newDirectory~+dirName{0},>{v},N{}",
     true},
    {D::kDeleteDirectory, "deleteDirectory",
     "Ro~deleteDirectory~+dirName{0},+deleteChildren{b},>{v},N{}", true},
    {D::kChangeOwnerServer, "changeOwnerServer",
     "Ro~changeOwnerServer~+new_owner{0},+serverName{0},>{v},N{}", true},
    {D::kChangeOwnerDir, "changeOwnerDir",
     "Ro~changeOwnerDir~+new_owner{0},+dirName{0},>{v},N{}", true},
    {D::kAddInvokeRights, "addInvokeRights",
     "Ro~addInvokeRights~+userGroup{0},+serverName{0},>{v},N{}", true},
    {D::kRemoveInvokeRights, "removeInvokeRights",
     "Ro~removeInvokeRights~+userGroup{0},+serverName{0},>{v},N{}", true},
    {D::kAddLaunchRights, "addLaunchRights",
     "Ro~addLaunchRights~+userGroup{0},+serverName{0},>{v},N{}", true},
    {D::kRemoveLaunchRights, "removeLaunchRights",
     "Ro~removeLaunchRights~+userGroup{0},+serverName{0},>{v},N{}", true},
    {D::kAddInvokeRightsDir, "addInvokeRightsDir",
     "Ro~addInvokeRightsDir~+userGroup{0},+dirName{0},>{v},N{}", true},
    {D::kRemoveInvokeRightsDir, "removeInvokeRightsDir",
     "Ro~removeInvokeRightsDir~+userGroup{0},+dirName{0},>{v},N{}", true},
    {D::kAddLaunchRightsDir, "addLaunchRightsDir",
     "Ro~addLaunchRightsDir~+userGroup{0},+dirName{0},>{v},N{}", true},
    {D::kRemoveLaunchRightsDir, "removeLaunchRightsDir",
     "Ro~removeLaunchRightsDir~+userGroup{0},+dirName{0},>{v},N{}", true},
    {D::kAddDirRights, "addDirRights",
     "Ro~addDirRights~+userGroup{0},+dirName{0},>{v},N{}", true},
    {D::kRemoveDirRights, "removeDirRights",
     "Ro~removeDirRights~+userGroup{0},+dirName{0},>{v},N{}", true},
    {D::kRegisterServerAsLegacy, "registerServerAsLegacy",
     "Ro~registerServerAsLegacy~+onoff{b},>{v},N{}", false},
}};

#undef TALVO_STRINGS
#undef TALVO_SERVER_DETAILS

// The table's order is its enum's order; checked at compile time.
constexpr bool inEnumOrder() {
  for (std::size_t i = 0; i < kTable.size(); ++i) {
    if (static_cast<std::size_t>(kTable[i].op) != i) return false;
  }
  return true;
}
static_assert(inEnumOrder());

}  // namespace

std::span<const DaemonOperation> daemonOperations() { return kTable; }

const DaemonOperation& daemonOperation(DaemonOp op) {
  return kTable[static_cast<std::size_t>(op)];
}

std::optional<DaemonOp> findDaemonOperation(std::string_view name) {
  for (const DaemonOperation& entry : kTable) {
    if (entry.name == name) return entry.op;
  }
  return std::nullopt;
}

const protocol::Signature& daemonSignature(DaemonOp op) {
  static const auto parsed = [] {
    std::array<protocol::Signature, kDaemonOperationCount> out;
    for (std::size_t i = 0; i < kTable.size(); ++i) {
      // The texts are fixed and covered by the tests; a failure here is a
      // programming error caught on first use.
      if (protocol::parseSignature(kTable[i].signature, out[i]) != nullptr) {
        std::abort();
      }
    }
    return out;
  }();
  return parsed[static_cast<std::size_t>(op)];
}

}  // namespace talvo::interface
