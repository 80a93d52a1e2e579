#include "interface/daemon_dispatch.h"

#include <cstdlib>

#include "interface/daemon_operations.h"

namespace talvo::interface {
namespace {

using protocol::OperationHandler;
using protocol::Request;
using protocol::Value;
using Strings = std::vector<std::string>;

// ---- Reading the in arguments (decoded by the signature already) --------

std::string str(const Request& r, std::size_t i) { return r.arg(i).text(); }

Strings strings(const Request& r, std::size_t i) {
  Strings out;
  for (const Value& v : r.arg(i).as<Value::List>()) out.push_back(v.text());
  return out;
}

std::uint32_t ulong(const Request& r, std::size_t i) {
  return r.arg(i).as<std::uint32_t>();
}

// ---- Writing the reply ------------------------------------------------------

// Records a failure for the exception reply; true when the call succeeded
// and its outs are to be written.
bool succeeded(Request& r, const Status& st) {
  if (st == nullptr) return true;
  st->record(r.env);
  return false;
}

void setString(Request& r, std::size_t i, const std::string& v) {
  r.args[i] = Value::ofString(v);
}

Value detailsValue(const ServerDetails& d) {
  return Value::ofList({Value::ofString(d.server), Value::ofString(d.marker),
                        Value::ofString(d.principal), Value::ofString(d.code),
                        Value::ofString(d.comms), Value::ofString(d.port),
                        Value::ofULong(d.osSpecific),
                        Value::ofEnum(static_cast<std::uint32_t>(d.status))});
}

// ---- Handler shapes shared by several operations ----------------------------

using OneName = Status (Daemon::*)(const Caller&, std::string_view);
using TwoNames = Status (Daemon::*)(const Caller&, std::string_view,
                                    std::string_view);
using ThreeNames = Status (Daemon::*)(const Caller&, std::string_view,
                                      std::string_view, std::string_view);
using ListEdit = Status (Daemon::*)(const Caller&, std::string_view,
                                    const Strings&, bool*);
using ListRead = Status (Daemon::*)(const Caller&, std::string_view, Strings*,
                                    bool*);
using CreateKeyed = Status (Daemon::*)(const Caller&, std::string_view,
                                       const Strings&, const Strings&,
                                       std::uint32_t);

OperationHandler oneName(Daemon* d, OneName f) {
  return [d, f](Request& r) { succeeded(r, (d->*f)(callerOf(r), str(r, 0))); };
}

OperationHandler twoNames(Daemon* d, TwoNames f) {
  return [d, f](Request& r) {
    succeeded(r, (d->*f)(callerOf(r), str(r, 0), str(r, 1)));
  };
}

OperationHandler threeNames(Daemon* d, ThreeNames f) {
  return [d, f](Request& r) {
    succeeded(r, (d->*f)(callerOf(r), str(r, 0), str(r, 1), str(r, 2)));
  };
}

OperationHandler listEdit(Daemon* d, ListEdit f) {
  return [d, f](Request& r) {
    bool ok = false;
    if (succeeded(r, (d->*f)(callerOf(r), str(r, 0), strings(r, 1), &ok))) {
      r.result = Value::ofBool(ok);
    }
  };
}

OperationHandler listRead(Daemon* d, ListRead f) {
  return [d, f](Request& r) {
    bool ok = false;
    Strings items;
    if (succeeded(r, (d->*f)(callerOf(r), str(r, 0), &items, &ok))) {
      r.args[1] = Value::ofStrings(items);
      r.result = Value::ofBool(ok);
    }
  };
}

OperationHandler createKeyed(Daemon* d, CreateKeyed f) {
  return [d, f](Request& r) {
    succeeded(r, (d->*f)(callerOf(r), str(r, 0), strings(r, 1), strings(r, 2),
                         ulong(r, 3)));
  };
}

// getServer (with_counts false) and getServer2.
OperationHandler describe(Daemon* d, bool with_counts) {
  return [d, with_counts](Request& r) {
    ServerDescription s;
    const Caller caller = callerOf(r);
    Status st = with_counts ? d->getServer2(caller, str(r, 0), &s)
                            : d->getServer(caller, str(r, 0), &s);
    if (!succeeded(r, st)) return;
    setString(r, 1, s.commsProtocol);
    setString(r, 2, s.codeProtocol);
    setString(r, 3, s.activationPolicy);
    r.args[4] = Value::ofULong(s.modeFlags);
    setString(r, 5, s.owner);
    setString(r, 6, s.invokeList);
    setString(r, 7, s.launchList);
    std::size_t next = 8;
    if (with_counts) {
      r.args[next++] = Value::ofULong(s.nservers);
      r.args[next++] = Value::ofULong(s.port);
    }
    r.args[next++] = Value::ofStrings(s.markers);
    r.args[next++] = Value::ofStrings(s.methods);
    r.args[next] = Value::ofStrings(s.commands);
  };
}

OperationHandler handlerFor(Daemon* d, DaemonOp op) {
  switch (op) {
    case DaemonOp::kGetImplementationDetails:
      return [d](Request& r) {
        ImplementationDetails out;
        if (succeeded(
                r, d->getImplementationDetails(callerOf(r), str(r, 0),
                                               str(r, 1), str(r, 2), &out))) {
          setString(r, 3, out.codeProtocol);
          setString(r, 4, out.commsProtocol);
          setString(r, 5, out.commsPort);
          setString(r, 6, out.activationPolicy);
        }
      };
    case DaemonOp::kGetIIOPDetails:
      return [d](Request& r) {
        IiopDetails out;
        if (succeeded(r, d->getIIOPDetails(callerOf(r), str(r, 0), str(r, 1),
                                           str(r, 2), &out))) {
          setString(r, 3, out.iiopPort);
          setString(r, 4, out.activationPolicy);
        }
      };
    case DaemonOp::kRegisterPersistentServer:
      return [d](Request& r) {
        PersistentServerDetails out;
        if (succeeded(r, d->registerPersistentServer(callerOf(r), str(r, 0),
                                                     ulong(r, 1), &out))) {
          setString(r, 2, out.codeProtocol);
          setString(r, 3, out.commsProtocol);
          setString(r, 4, out.commsPort);
        }
      };
    case DaemonOp::kLookUp:
      return [d](Request& r) {
        Strings hosts;
        bool ok = false;
        if (succeeded(r, d->lookUp(callerOf(r), str(r, 0),
                                   r.arg(2).as<std::uint8_t>(), str(r, 3),
                                   &hosts, &ok))) {
          r.args[1] = Value::ofStrings(hosts);
          r.result = Value::ofBool(ok);
        }
      };
    case DaemonOp::kAddHostsToServer:
      return listEdit(d, &Daemon::addHostsToServer);
    case DaemonOp::kAddHostsToGroup:
      return listEdit(d, &Daemon::addHostsToGroup);
    case DaemonOp::kAddGroupsToServer:
      return listEdit(d, &Daemon::addGroupsToServer);
    case DaemonOp::kDelHostsFromServer:
      return listEdit(d, &Daemon::delHostsFromServer);
    case DaemonOp::kDelHostsFromGroup:
      return listEdit(d, &Daemon::delHostsFromGroup);
    case DaemonOp::kDelGroupsFromServer:
      return listEdit(d, &Daemon::delGroupsFromServer);
    case DaemonOp::kListHostsInServer:
      return listRead(d, &Daemon::listHostsInServer);
    case DaemonOp::kListHostsInGroup:
      return listRead(d, &Daemon::listHostsInGroup);
    case DaemonOp::kListGroupsInServer:
      return listRead(d, &Daemon::listGroupsInServer);
    case DaemonOp::kListActiveServers:
      return [d](Request& r) {
        std::vector<ServerDetails> servers;
        if (succeeded(r, d->listActiveServers(callerOf(r), &servers))) {
          Value::List list;
          for (const ServerDetails& s : servers) {
            list.push_back(detailsValue(s));
          }
          r.args[0] = Value::ofList(std::move(list));
        }
      };
    case DaemonOp::kKillServer:
      return twoNames(d, &Daemon::killServer);
    case DaemonOp::kNewSharedServer:
      return createKeyed(d, &Daemon::newSharedServer);
    case DaemonOp::kNewSharedServer2:
      return [d](Request& r) {
        succeeded(r,
                  d->newSharedServer2(callerOf(r), str(r, 0), strings(r, 1),
                                      strings(r, 2), ulong(r, 3), ulong(r, 4),
                                      r.arg(5).as<std::int32_t>()));
      };
    case DaemonOp::kNewUnSharedServer:
      return createKeyed(d, &Daemon::newUnSharedServer);
    case DaemonOp::kNewPerMethodServer:
      return [d](Request& r) {
        succeeded(r, d->newPerMethodServer(callerOf(r), str(r, 0),
                                           strings(r, 1), strings(r, 2)));
      };
    case DaemonOp::kListServers:
      return [d](Request& r) {
        Strings servers;
        Status st = d->listServers(callerOf(r), str(r, 0), &servers);
        r.args[1] = Value::ofStrings(servers);
        succeeded(r, st);
      };
    case DaemonOp::kDeleteServer:
      return oneName(d, &Daemon::deleteServer);
    case DaemonOp::kServerExists:
      return [d](Request& r) {
        r.result = Value::ofBool(d->serverExists(callerOf(r), str(r, 0)));
      };
    case DaemonOp::kGetServer:
      return describe(d, false);
    case DaemonOp::kGetServer2:
      return describe(d, true);
    case DaemonOp::kAddMarker:
      return threeNames(d, &Daemon::addMarker);
    case DaemonOp::kRemoveMarker:
      return twoNames(d, &Daemon::removeMarker);
    case DaemonOp::kAddUnsharedMarker:
      return threeNames(d, &Daemon::addUnsharedMarker);
    case DaemonOp::kRemoveUnsharedMarker:
      return twoNames(d, &Daemon::removeUnsharedMarker);
    case DaemonOp::kAddSharedMarker:
      return threeNames(d, &Daemon::addSharedMarker);
    case DaemonOp::kRemoveSharedMarker:
      return twoNames(d, &Daemon::removeSharedMarker);
    case DaemonOp::kAddMethod:
      return threeNames(d, &Daemon::addMethod);
    case DaemonOp::kRemoveMethod:
      return twoNames(d, &Daemon::removeMethod);
    case DaemonOp::kNewDirectory:
      return oneName(d, &Daemon::newDirectory);
    case DaemonOp::kDeleteDirectory:
      return [d](Request& r) {
        succeeded(
            r, d->deleteDirectory(callerOf(r), str(r, 0), r.arg(1).as<bool>()));
      };
    case DaemonOp::kChangeOwnerServer:
      return twoNames(d, &Daemon::changeOwnerServer);
    case DaemonOp::kChangeOwnerDir:
      return twoNames(d, &Daemon::changeOwnerDir);
    case DaemonOp::kAddInvokeRights:
      return twoNames(d, &Daemon::addInvokeRights);
    case DaemonOp::kRemoveInvokeRights:
      return twoNames(d, &Daemon::removeInvokeRights);
    case DaemonOp::kAddLaunchRights:
      return twoNames(d, &Daemon::addLaunchRights);
    case DaemonOp::kRemoveLaunchRights:
      return twoNames(d, &Daemon::removeLaunchRights);
    case DaemonOp::kAddInvokeRightsDir:
      return twoNames(d, &Daemon::addInvokeRightsDir);
    case DaemonOp::kRemoveInvokeRightsDir:
      return twoNames(d, &Daemon::removeInvokeRightsDir);
    case DaemonOp::kAddLaunchRightsDir:
      return twoNames(d, &Daemon::addLaunchRightsDir);
    case DaemonOp::kRemoveLaunchRightsDir:
      return twoNames(d, &Daemon::removeLaunchRightsDir);
    case DaemonOp::kAddDirRights:
      return twoNames(d, &Daemon::addDirRights);
    case DaemonOp::kRemoveDirRights:
      return twoNames(d, &Daemon::removeDirRights);
    case DaemonOp::kRegisterServerAsLegacy:
      return [d](Request& r) {
        d->registerServerAsLegacy(callerOf(r), r.arg(0).as<bool>());
      };
  }
  std::abort();  // every operation of the enum has a case above
}

}  // namespace

Caller callerOf(const Request& request) {
  return Caller{request.principal, request.peer.socket};
}

std::shared_ptr<protocol::Interface> makeDaemonInterface(Daemon& daemon) {
  auto table =
      std::make_shared<protocol::Interface>(std::string(kDaemonInterfaceName));
  for (const DaemonOperation& entry : daemonOperations()) {
    // The table's signatures are fixed texts with distinct names; they
    // always parse (the tests cover every one).
    if (table->addOperation(entry.signature, handlerFor(&daemon, entry.op))) {
      std::abort();
    }
  }
  return table;
}

void registerDaemon(Daemon& daemon, protocol::Dispatcher& dispatcher) {
  dispatcher.objects().add("", makeDaemonInterface(daemon));
}

}  // namespace talvo::interface
