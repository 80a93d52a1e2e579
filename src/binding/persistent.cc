// Registration of servers started by hand (persistent servers), with a
// record or, when the daemon accepts them, without one.

#include <cstdio>

#include "binding/binding_service.h"
#include "imprep/names.h"
#include "runtime/config/trace_stream.h"

namespace talvo {

Status BindingService::registerPersistentServer(const Requester& requester,
                                                const std::string& server,
                                                std::uint32_t pid,
                                                PersistentServerDetails* out) {
  // 1.
  const std::string pidText = std::to_string(pid);
  tracePrefixed("Registering Persistent Server " + logged(server) +
                "(pid = " + pidText + ")" + " ]");
  // 2. The latest registrant remembered.
  if (requester.connection) {
    int fd = *requester.connection;
    traceStream() << " fd: " << static_cast<std::int32_t>(fd) << endl;
    if (latestRegistrant_ && *latestRegistrant_ != fd) {
      traceStream() << "   xShutting down server's fd:"
                    << static_cast<std::int32_t>(*latestRegistrant_) << endl;
    }
    latestRegistrant_ = fd;
    if (latestRequester_ == fd) latestRequester_.reset();
  }

  // A pattern for a name would make the registered process answer for
  // other servers' bindings.
  if (!imprep::isNewServerName(server)) {
    return fail<CORBA::BAD_PARAM>(10032, server);
  }

  // 3. The record decides protocols, port and principal.
  std::unique_ptr<imprep::ImpRepRecord> record;
  std::string code;
  std::string comms;
  std::uint32_t wellKnown = 0;
  OptionalText principal;
  if (Status error = repository_.readRecord(server, &record)) {
    if (!options_.ups) return error;
    tracePrefixed("Unregistered Persistent Server activation " +
                  logged(server) + "(pid = " + pidText + ")" + " ]");
    code = options_.defaultCode;
    comms = options_.defaultComms;
  } else {
    if (record->mode() != imprep::kShared) {
      return fail<CORBA::BAD_OPERATION>(10245, server);
    }
    // Registering stands in for launching: it takes the caller's launch
    // rights, or anyone could take over the server's future bindings.
    if (!imprep::ImpRepository::mayLaunch(*record, principalOf(requester))) {
      return fail<CORBA::NO_PERMISSION>(10122, server);
    }
    if (record->submode() == imprep::kPrivate) {
      principal = principalOf(requester);
    }
    code = record->code();
    comms = record->comms();
    wellKnown = record->port();
  }

  // A server that is registered (or launched under "*") and alive cannot
  // register a second time.
  const std::string& name = record ? record->name() : server;
  if (activator_.isServerAlive(name, "*", principal) != nullptr) {
    return fail<CORBA::BAD_OPERATION>(10243, server);
  }

  int port = 0;
  if (Status error = takePort(wellKnown, &port)) return error;
  char portText[16];
  std::snprintf(portText, sizeof portText, "%d", port);
  tracePrefixed(std::string("Dynamically assigning internet port ") + portText +
                " ]");

  if (Status error = activator_.registerActivation(
          name, "*", LaunchStatus::manualLaunch, code, comms, portText, "0",
          processIdBuffer(static_cast<std::int32_t>(pid)), principal)) {
    return error;
  }
  out->codeProtocol = std::move(code);
  out->commsProtocol = std::move(comms);
  out->commsPort = portText;
  return nullptr;
}

}  // namespace talvo
