#include "interface/daemon_stubs.h"

#include <utility>

namespace talvo::interface {
namespace {

using protocol::Value;
using Strings = DaemonClient::Strings;

Value str(std::string_view s) { return Value::ofString(std::string(s)); }

// The strings of a returned "S{0},0" value; a value of another kind (a
// reply the signature should have refused) reads as empty.
Strings strings(const Value& v) {
  Strings out;
  if (const auto* list = std::get_if<Value::List>(&v.data)) {
    for (const Value& item : *list) {
      if (std::holds_alternative<Value::Str>(item.data)) {
        out.push_back(item.text());
      }
    }
  }
  return out;
}

std::string text(const Value& v) {
  return std::holds_alternative<Value::Str>(v.data) ? v.text() : std::string();
}

template <class T>
T number(const Value& v) {
  const T* p = std::get_if<T>(&v.data);
  return p ? *p : T{};
}

ServerDetails details(const Value& v) {
  ServerDetails d;
  const auto* fields = std::get_if<Value::List>(&v.data);
  if (fields == nullptr || fields->size() != 8) return d;
  d.server = text((*fields)[0]);
  d.marker = text((*fields)[1]);
  d.principal = text((*fields)[2]);
  d.code = text((*fields)[3]);
  d.comms = text((*fields)[4]);
  d.port = text((*fields)[5]);
  d.osSpecific = number<std::uint32_t>((*fields)[6]);
  d.status = static_cast<LaunchStatus>(number<std::uint32_t>((*fields)[7]));
  return d;
}

bool forwarded(const Status& st) {
  return st != nullptr && st->bareName() == "IIOP" &&
         st->minor() == kMinorForwarded;
}

}  // namespace

DaemonClient::DaemonClient(Orb& orb, Target target)
    : transport_([&orb](const Target& t, std::string_view sig,
                        std::vector<Value> args, CallReply& reply) {
        return orb.call(t, sig, std::move(args), reply);
      }),
      target_(std::move(target)) {}

DaemonClient::DaemonClient(Transport transport, Target target)
    : transport_(std::move(transport)), target_(std::move(target)) {}

Status DaemonClient::invoke(DaemonOp op, std::vector<Value> ins,
                            CallReply& reply) {
  const DaemonOperation& entry = daemonOperation(op);
  const protocol::Signature& sig = daemonSignature(op);
  std::vector<Value> args(sig.parameters.size());
  std::size_t next = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (sig.parameters[i].sent() && next < ins.size()) {
      args[i] = std::move(ins[next++]);
    }
  }
  if (next != ins.size()) {
    return fail<CORBA::MARSHAL>(10168,
                                "bad typecode " + std::string(entry.signature));
  }
  reply = CallReply{};
  Status st = transport_(target_, entry.signature, args, reply);
  if (forwarded(st) && forwarder_) {
    Target moved;
    if (Status where = forwarder_(target_, moved)) return where;
    target_ = std::move(moved);
    reply = CallReply{};
    st = transport_(target_, entry.signature, std::move(args), reply);
  }
  if (st != nullptr) return st;
  if (reply.user_exception != nullptr) {
    return fail<CORBA::UNKNOWN>(0, reply.user_exception->name());
  }
  return nullptr;
}

// ---- Binding ------------------------------------------------------------

Status DaemonClient::getImplementationDetails(std::string_view serverName,
                                              std::string_view markerName,
                                              std::string_view methodName,
                                              ImplementationDetails* out) {
  CallReply r;
  if (Status st =
          invoke(DaemonOp::kGetImplementationDetails,
                 {str(serverName), str(markerName), str(methodName)}, r)) {
    return st;
  }
  out->codeProtocol = text(r.args[3]);
  out->commsProtocol = text(r.args[4]);
  out->commsPort = text(r.args[5]);
  out->activationPolicy = text(r.args[6]);
  return nullptr;
}

Status DaemonClient::getIIOPDetails(std::string_view serverName,
                                    std::string_view markerName,
                                    std::string_view methodName,
                                    IiopDetails* out) {
  CallReply r;
  if (Status st =
          invoke(DaemonOp::kGetIIOPDetails,
                 {str(serverName), str(markerName), str(methodName)}, r)) {
    return st;
  }
  out->iiopPort = text(r.args[3]);
  out->activationPolicy = text(r.args[4]);
  return nullptr;
}

Status DaemonClient::registerPersistentServer(std::string_view serverName,
                                              std::uint32_t serverPid,
                                              PersistentServerDetails* out) {
  CallReply r;
  if (Status st = invoke(DaemonOp::kRegisterPersistentServer,
                         {str(serverName), Value::ofULong(serverPid)}, r)) {
    return st;
  }
  out->codeProtocol = text(r.args[2]);
  out->commsProtocol = text(r.args[3]);
  out->commsPort = text(r.args[4]);
  return nullptr;
}

// ---- Locator --------------------------------------------------------------

Status DaemonClient::lookUp(std::string_view service, std::uint8_t hops,
                            std::string_view tag, Strings* hostList, bool* ok) {
  CallReply r;
  if (Status st = invoke(DaemonOp::kLookUp,
                         {str(service), Value::ofOctet(hops), str(tag)}, r)) {
    return st;
  }
  *hostList = strings(r.args[1]);
  *ok = number<bool>(r.result);
  return nullptr;
}

Status DaemonClient::editList(DaemonOp op, std::string_view name,
                              const Strings& items, bool* ok) {
  CallReply r;
  if (Status st = invoke(op, {str(name), Value::ofStrings(items)}, r)) {
    return st;
  }
  *ok = number<bool>(r.result);
  return nullptr;
}

Status DaemonClient::readList(DaemonOp op, std::string_view name,
                              Strings* items, bool* ok) {
  CallReply r;
  if (Status st = invoke(op, {str(name)}, r)) return st;
  *items = strings(r.args[1]);
  *ok = number<bool>(r.result);
  return nullptr;
}

Status DaemonClient::addHostsToServer(std::string_view server,
                                      const Strings& hostList, bool* ok) {
  return editList(DaemonOp::kAddHostsToServer, server, hostList, ok);
}
Status DaemonClient::addHostsToGroup(std::string_view group,
                                     const Strings& hostList, bool* ok) {
  return editList(DaemonOp::kAddHostsToGroup, group, hostList, ok);
}
Status DaemonClient::addGroupsToServer(std::string_view server,
                                       const Strings& groupList, bool* ok) {
  return editList(DaemonOp::kAddGroupsToServer, server, groupList, ok);
}
Status DaemonClient::delHostsFromServer(std::string_view server,
                                        const Strings& hostList, bool* ok) {
  return editList(DaemonOp::kDelHostsFromServer, server, hostList, ok);
}
Status DaemonClient::delHostsFromGroup(std::string_view group,
                                       const Strings& hostList, bool* ok) {
  return editList(DaemonOp::kDelHostsFromGroup, group, hostList, ok);
}
Status DaemonClient::delGroupsFromServer(std::string_view server,
                                         const Strings& groupList, bool* ok) {
  return editList(DaemonOp::kDelGroupsFromServer, server, groupList, ok);
}
Status DaemonClient::listHostsInServer(std::string_view server,
                                       Strings* hostList, bool* ok) {
  return readList(DaemonOp::kListHostsInServer, server, hostList, ok);
}
Status DaemonClient::listHostsInGroup(std::string_view group, Strings* hostList,
                                      bool* ok) {
  return readList(DaemonOp::kListHostsInGroup, group, hostList, ok);
}
Status DaemonClient::listGroupsInServer(std::string_view server,
                                        Strings* groupList, bool* ok) {
  return readList(DaemonOp::kListGroupsInServer, server, groupList, ok);
}

// ---- Activation -------------------------------------------------------------

Status DaemonClient::listActiveServers(std::vector<ServerDetails>* servers) {
  CallReply r;
  if (Status st = invoke(DaemonOp::kListActiveServers, {}, r)) return st;
  servers->clear();
  if (const auto* list = std::get_if<Value::List>(&r.args[0].data)) {
    for (const Value& v : *list) servers->push_back(details(v));
  }
  return nullptr;
}

Status DaemonClient::killServer(std::string_view name,
                                std::string_view marker) {
  return names(DaemonOp::kKillServer, {name, marker});
}

// ---- Creating servers -------------------------------------------------------

Status DaemonClient::create(DaemonOp op, std::vector<Value> ins) {
  CallReply r;
  return invoke(op, std::move(ins), r);
}

Status DaemonClient::newSharedServer(std::string_view serverName,
                                     const Strings& markers,
                                     const Strings& commands,
                                     std::uint32_t modeFlags) {
  return create(DaemonOp::kNewSharedServer,
                {str(serverName), Value::ofStrings(markers),
                 Value::ofStrings(commands), Value::ofULong(modeFlags)});
}

Status DaemonClient::newSharedServer2(std::string_view serverName,
                                      const Strings& markers,
                                      const Strings& commands,
                                      std::uint32_t modeFlags,
                                      std::uint32_t nservers,
                                      std::int32_t wellKnownPort) {
  return create(DaemonOp::kNewSharedServer2,
                {str(serverName), Value::ofStrings(markers),
                 Value::ofStrings(commands), Value::ofULong(modeFlags),
                 Value::ofULong(nservers), Value::ofLong(wellKnownPort)});
}

Status DaemonClient::newUnSharedServer(std::string_view serverName,
                                       const Strings& markers,
                                       const Strings& commands,
                                       std::uint32_t modeFlags) {
  return create(DaemonOp::kNewUnSharedServer,
                {str(serverName), Value::ofStrings(markers),
                 Value::ofStrings(commands), Value::ofULong(modeFlags)});
}

Status DaemonClient::newPerMethodServer(std::string_view serverName,
                                        const Strings& methods,
                                        const Strings& commands) {
  return create(
      DaemonOp::kNewPerMethodServer,
      {str(serverName), Value::ofStrings(methods), Value::ofStrings(commands)});
}

// ---- Reading ----------------------------------------------------------------

Status DaemonClient::listServers(std::string_view subdir, Strings* servers) {
  CallReply r;
  if (Status st = invoke(DaemonOp::kListServers, {str(subdir)}, r)) return st;
  *servers = strings(r.args[1]);
  return nullptr;
}

Status DaemonClient::serverExists(std::string_view serverName, bool* exists) {
  CallReply r;
  if (Status st = invoke(DaemonOp::kServerExists, {str(serverName)}, r)) {
    return st;
  }
  *exists = number<bool>(r.result);
  return nullptr;
}

Status DaemonClient::describe(DaemonOp op, std::string_view serverName,
                              ServerDescription* out) {
  CallReply r;
  if (Status st = invoke(op, {str(serverName)}, r)) return st;
  ServerDescription s;
  s.commsProtocol = text(r.args[1]);
  s.codeProtocol = text(r.args[2]);
  s.activationPolicy = text(r.args[3]);
  s.modeFlags = number<std::uint32_t>(r.args[4]);
  s.owner = text(r.args[5]);
  s.invokeList = text(r.args[6]);
  s.launchList = text(r.args[7]);
  std::size_t next = 8;
  if (op == DaemonOp::kGetServer2) {
    s.nservers = number<std::uint32_t>(r.args[next++]);
    s.port = number<std::uint32_t>(r.args[next++]);
  }
  s.markers = strings(r.args[next++]);
  s.methods = strings(r.args[next++]);
  s.commands = strings(r.args[next]);
  *out = std::move(s);
  return nullptr;
}

Status DaemonClient::getServer(std::string_view serverName,
                               ServerDescription* out) {
  return describe(DaemonOp::kGetServer, serverName, out);
}

Status DaemonClient::getServer2(std::string_view serverName,
                                ServerDescription* out) {
  return describe(DaemonOp::kGetServer2, serverName, out);
}

// ---- Changing records and directories ---------------------------------------

Status DaemonClient::names(DaemonOp op, std::vector<std::string_view> values) {
  std::vector<Value> ins;
  for (std::string_view v : values) ins.push_back(str(v));
  CallReply r;
  return invoke(op, std::move(ins), r);
}

Status DaemonClient::deleteServer(std::string_view serverName) {
  return names(DaemonOp::kDeleteServer, {serverName});
}
Status DaemonClient::addMarker(std::string_view serverName,
                               std::string_view markerName,
                               std::string_view newCommand) {
  return names(DaemonOp::kAddMarker, {serverName, markerName, newCommand});
}
Status DaemonClient::removeMarker(std::string_view serverName,
                                  std::string_view markerName) {
  return names(DaemonOp::kRemoveMarker, {serverName, markerName});
}
Status DaemonClient::addUnsharedMarker(std::string_view serverName,
                                       std::string_view markerName,
                                       std::string_view newCommand) {
  return names(DaemonOp::kAddUnsharedMarker,
               {serverName, markerName, newCommand});
}
Status DaemonClient::removeUnsharedMarker(std::string_view serverName,
                                          std::string_view markerName) {
  return names(DaemonOp::kRemoveUnsharedMarker, {serverName, markerName});
}
Status DaemonClient::addSharedMarker(std::string_view serverName,
                                     std::string_view markerName,
                                     std::string_view newCommand) {
  return names(DaemonOp::kAddSharedMarker,
               {serverName, markerName, newCommand});
}
Status DaemonClient::removeSharedMarker(std::string_view serverName,
                                        std::string_view markerName) {
  return names(DaemonOp::kRemoveSharedMarker, {serverName, markerName});
}
Status DaemonClient::addMethod(std::string_view serverName,
                               std::string_view methodName,
                               std::string_view newCommand) {
  return names(DaemonOp::kAddMethod, {serverName, methodName, newCommand});
}
Status DaemonClient::removeMethod(std::string_view serverName,
                                  std::string_view methodName) {
  return names(DaemonOp::kRemoveMethod, {serverName, methodName});
}
Status DaemonClient::newDirectory(std::string_view dirName) {
  return names(DaemonOp::kNewDirectory, {dirName});
}
Status DaemonClient::deleteDirectory(std::string_view dirName,
                                     bool deleteChildren) {
  CallReply r;
  return invoke(DaemonOp::kDeleteDirectory,
                {str(dirName), Value::ofBool(deleteChildren)}, r);
}
Status DaemonClient::changeOwnerServer(std::string_view newOwner,
                                       std::string_view serverName) {
  return names(DaemonOp::kChangeOwnerServer, {newOwner, serverName});
}
Status DaemonClient::changeOwnerDir(std::string_view newOwner,
                                    std::string_view dirName) {
  return names(DaemonOp::kChangeOwnerDir, {newOwner, dirName});
}
Status DaemonClient::addInvokeRights(std::string_view userGroup,
                                     std::string_view serverName) {
  return names(DaemonOp::kAddInvokeRights, {userGroup, serverName});
}
Status DaemonClient::removeInvokeRights(std::string_view userGroup,
                                        std::string_view serverName) {
  return names(DaemonOp::kRemoveInvokeRights, {userGroup, serverName});
}
Status DaemonClient::addLaunchRights(std::string_view userGroup,
                                     std::string_view serverName) {
  return names(DaemonOp::kAddLaunchRights, {userGroup, serverName});
}
Status DaemonClient::removeLaunchRights(std::string_view userGroup,
                                        std::string_view serverName) {
  return names(DaemonOp::kRemoveLaunchRights, {userGroup, serverName});
}
Status DaemonClient::addInvokeRightsDir(std::string_view userGroup,
                                        std::string_view dirName) {
  return names(DaemonOp::kAddInvokeRightsDir, {userGroup, dirName});
}
Status DaemonClient::removeInvokeRightsDir(std::string_view userGroup,
                                           std::string_view dirName) {
  return names(DaemonOp::kRemoveInvokeRightsDir, {userGroup, dirName});
}
Status DaemonClient::addLaunchRightsDir(std::string_view userGroup,
                                        std::string_view dirName) {
  return names(DaemonOp::kAddLaunchRightsDir, {userGroup, dirName});
}
Status DaemonClient::removeLaunchRightsDir(std::string_view userGroup,
                                           std::string_view dirName) {
  return names(DaemonOp::kRemoveLaunchRightsDir, {userGroup, dirName});
}
Status DaemonClient::addDirRights(std::string_view userGroup,
                                  std::string_view dirName) {
  return names(DaemonOp::kAddDirRights, {userGroup, dirName});
}
Status DaemonClient::removeDirRights(std::string_view userGroup,
                                     std::string_view dirName) {
  return names(DaemonOp::kRemoveDirRights, {userGroup, dirName});
}

// ---- Legacy mode
// --------------------------------------------------------------

Status DaemonClient::registerServerAsLegacy(bool onoff) {
  CallReply r;
  return invoke(DaemonOp::kRegisterServerAsLegacy, {Value::ofBool(onoff)}, r);
}

}  // namespace talvo::interface
