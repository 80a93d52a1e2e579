// DaemonClient: the client stubs of the daemon's interface "QV_daemon".
//
// One method per operation of the table (daemon_operations.h), named after
// it, taking the in arguments and filling the out arguments and result.
// Each marshals by the table's signature, so the stubs and the daemon's
// dispatch cannot drift apart. A method returns null on success, or the
// system exception of the reply (or of the transport: COMM_FAILURE, ...);
// out arguments are only written on success.
//
// Forwarding: a request is sent at most twice. When the first attempt ends
// in IIOP 10601 (the peer forwarded the request), the forwarder is asked
// for the new location, the client re-targets to it and sends the request
// once more; any other outcome, and the second attempt's, ends the call.
// The re-target sticks: later calls go to the forwarded location.
//
// Thread safety: none; a DaemonClient is used on the thread of its Orb.

#ifndef TALVO_INTERFACE_DAEMON_STUBS_H_
#define TALVO_INTERFACE_DAEMON_STUBS_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "interface/daemon_operations.h"
#include "interface/daemon_types.h"
#include "runtime/except/exception.h"
#include "runtime/orb/orb.h"
#include "runtime/protocol/value.h"

namespace talvo::interface {

// Minor code of IIOP that says the reply forwarded the request.
inline constexpr std::uint32_t kMinorForwarded = 10601;

class DaemonClient {
 public:
  using Strings = std::vector<std::string>;
  // Sends one request (the shape of Orb::call).
  using Transport =
      std::function<Status(const Target&, std::string_view signature,
                           std::vector<protocol::Value> args, CallReply&)>;
  // Gives the location a forwarded request is to be sent to: fills `next`
  // from the current target, or returns why it cannot (the call then ends
  // with that exception).
  using Forwarder = std::function<Status(const Target& current, Target& next)>;

  // Calls through `orb` (not owned; must outlive the client).
  DaemonClient(Orb& orb, Target target);
  // Calls through `transport` (tests, other run times).
  DaemonClient(Transport transport, Target target);

  // The location requests go to (the forwarded one after a forward).
  const Target& target() const { return target_; }
  // Without a forwarder, IIOP 10601 ends the call as it came.
  void setForwarder(Forwarder forwarder) { forwarder_ = std::move(forwarder); }

  // ---- Binding ------------------------------------------------------------
  Status getImplementationDetails(std::string_view serverName,
                                  std::string_view markerName,
                                  std::string_view methodName,
                                  ImplementationDetails* out);
  Status getIIOPDetails(std::string_view serverName,
                        std::string_view markerName,
                        std::string_view methodName, IiopDetails* out);
  Status registerPersistentServer(std::string_view serverName,
                                  std::uint32_t serverPid,
                                  PersistentServerDetails* out);

  // ---- Locator: `*ok` is the operation's boolean result --------------------
  Status lookUp(std::string_view service, std::uint8_t hops,
                std::string_view tag, Strings* hostList, bool* ok);
  Status addHostsToServer(std::string_view server, const Strings& hostList,
                          bool* ok);
  Status addHostsToGroup(std::string_view group, const Strings& hostList,
                         bool* ok);
  Status addGroupsToServer(std::string_view server, const Strings& groupList,
                           bool* ok);
  Status delHostsFromServer(std::string_view server, const Strings& hostList,
                            bool* ok);
  Status delHostsFromGroup(std::string_view group, const Strings& hostList,
                           bool* ok);
  Status delGroupsFromServer(std::string_view server, const Strings& groupList,
                             bool* ok);
  Status listHostsInServer(std::string_view server, Strings* hostList,
                           bool* ok);
  Status listHostsInGroup(std::string_view group, Strings* hostList, bool* ok);
  Status listGroupsInServer(std::string_view server, Strings* groupList,
                            bool* ok);

  // ---- Activation ---------------------------------------------------------
  Status listActiveServers(std::vector<ServerDetails>* servers);
  Status killServer(std::string_view name, std::string_view marker);

  // ---- Creating servers ---------------------------------------------------
  Status newSharedServer(std::string_view serverName, const Strings& markers,
                         const Strings& commands, std::uint32_t modeFlags);
  Status newSharedServer2(std::string_view serverName, const Strings& markers,
                          const Strings& commands, std::uint32_t modeFlags,
                          std::uint32_t nservers, std::int32_t wellKnownPort);
  Status newUnSharedServer(std::string_view serverName, const Strings& markers,
                           const Strings& commands, std::uint32_t modeFlags);
  Status newPerMethodServer(std::string_view serverName, const Strings& methods,
                            const Strings& commands);

  // ---- Reading ------------------------------------------------------------
  Status listServers(std::string_view subdir, Strings* servers);
  Status serverExists(std::string_view serverName, bool* exists);
  // getServer leaves nservers and port 0.
  Status getServer(std::string_view serverName, ServerDescription* out);
  Status getServer2(std::string_view serverName, ServerDescription* out);

  // ---- Changing records and directories -----------------------------------
  Status deleteServer(std::string_view serverName);
  Status addMarker(std::string_view serverName, std::string_view markerName,
                   std::string_view newCommand);
  Status removeMarker(std::string_view serverName, std::string_view markerName);
  Status addUnsharedMarker(std::string_view serverName,
                           std::string_view markerName,
                           std::string_view newCommand);
  Status removeUnsharedMarker(std::string_view serverName,
                              std::string_view markerName);
  Status addSharedMarker(std::string_view serverName,
                         std::string_view markerName,
                         std::string_view newCommand);
  Status removeSharedMarker(std::string_view serverName,
                            std::string_view markerName);
  Status addMethod(std::string_view serverName, std::string_view methodName,
                   std::string_view newCommand);
  Status removeMethod(std::string_view serverName, std::string_view methodName);
  Status newDirectory(std::string_view dirName);
  Status deleteDirectory(std::string_view dirName, bool deleteChildren);
  Status changeOwnerServer(std::string_view newOwner,
                           std::string_view serverName);
  Status changeOwnerDir(std::string_view newOwner, std::string_view dirName);
  Status addInvokeRights(std::string_view userGroup,
                         std::string_view serverName);
  Status removeInvokeRights(std::string_view userGroup,
                            std::string_view serverName);
  Status addLaunchRights(std::string_view userGroup,
                         std::string_view serverName);
  Status removeLaunchRights(std::string_view userGroup,
                            std::string_view serverName);
  Status addInvokeRightsDir(std::string_view userGroup,
                            std::string_view dirName);
  Status removeInvokeRightsDir(std::string_view userGroup,
                               std::string_view dirName);
  Status addLaunchRightsDir(std::string_view userGroup,
                            std::string_view dirName);
  Status removeLaunchRightsDir(std::string_view userGroup,
                               std::string_view dirName);
  Status addDirRights(std::string_view userGroup, std::string_view dirName);
  Status removeDirRights(std::string_view userGroup, std::string_view dirName);

  // ---- Legacy mode --------------------------------------------------------
  Status registerServerAsLegacy(bool onoff);

  // Sends `op` with its in values in signature order (out parameters are
  // filled in as void); `reply` gets the answer. The forward rule applies.
  // A user exception in the reply (the interface declares none) comes back
  // as UNKNOWN with the exception's name as detail.
  Status invoke(DaemonOp op, std::vector<protocol::Value> ins,
                CallReply& reply);

 private:
  Status editList(DaemonOp op, std::string_view name, const Strings& items,
                  bool* ok);
  Status readList(DaemonOp op, std::string_view name, Strings* items, bool* ok);
  Status names(DaemonOp op, std::vector<std::string_view> values);
  Status create(DaemonOp op, std::vector<protocol::Value> ins);
  Status describe(DaemonOp op, std::string_view serverName,
                  ServerDescription* out);

  Transport transport_;
  Target target_;
  Forwarder forwarder_;
};

}  // namespace talvo::interface

#endif  // TALVO_INTERFACE_DAEMON_STUBS_H_
