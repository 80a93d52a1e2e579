// BindingService: the daemon's answer to a client that wants to bind to a
// server on this host, and the registration of servers started by hand.
//
// getImplementationDetails and getIIOPDetails read the server's record,
// check the caller's rights, choose the process that should serve the
// request (by activation policy, per-client mode and round-robin group),
// answer from its launch record when it runs, and otherwise take ports and
// launch it. registerPersistentServer records a server that started itself
// (a manualLaunch record under the marker "*"), with or without a record
// when unregistered persistent servers are accepted.
//
// The service owns none of the objects it is given: the repository, the
// activator and the port allocator must outlive it. Its only own state is
// the descriptor of the latest requester and registrant (diagnostics only).
// Operations return a Status (null on success, the exception otherwise,
// COMPLETED_NO) and set their outputs only on success. Nothing throws.
//
// Thread safety: none. The daemon calls it from its event-loop thread.

#ifndef TALVO_BINDING_BINDING_SERVICE_H_
#define TALVO_BINDING_BINDING_SERVICE_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "activation/activator.h"
#include "activation/port_allocator.h"
#include "client/daemon_types.h"
#include "imprep/repository.h"
#include "platform/log_text.h"
#include "runtime/except/exception.h"

namespace talvo {

// Who sent a request, as the request's connection tells it.
struct Requester {
  // The user name the connection carries; absent when the request did not
  // come over a connection (the daemon's own user is then the principal).
  std::optional<std::string> principal;
  // The connection's descriptor, when there is one (diagnostics only).
  std::optional<int> connection;
};

// The daemon's settings the binding service depends on.
struct BindingOptions {
  bool ups = false;              // accept unregistered persistent servers
  std::uint16_t daemonPort = 0;  // QV_DAEMON_PORT, read like atoi
  std::string daemonUser;        // principal of requests without connection
  std::string defaultCode;       // QV_DEFAULT_CODE
  std::string defaultComms;      // QV_DEFAULT_COMMS
  // Launch each server as the local account named by its record's owner
  // (never root); a daemon running as root only.
  bool launchAsOwner = false;
  // The trace-line prefix while the diagnostics level is not 0, else
  // nothing. Empty function: no prefixed lines at all.
  std::function<std::optional<std::string>()> tracePrefix;

  // The daemon's values from the process's run-time configuration.
  static BindingOptions fromRuntimeConfig(bool ups);
};

// A name a client sent, as trace lines show it: control characters
// escaped, so that no name can forge a line.
inline std::string logged(std::string_view text) {
  return platform::escapeControlCharacters(text);
}

// The five values the server details request computes.
struct ServerDetailsReply {
  std::string codeProtocol;
  std::string commsProtocol;
  std::string commsPort;
  std::string iiopPort;
  std::string activationPolicy;  // "shared", "unshared" or "per_method"
};

// The out values of getImplementationDetails, getIIOPDetails and
// registerPersistentServer: the interface's own types.
using ImplementationDetails = client::ImplementationDetails;
using IIOPDetails = client::IiopDetails;
using PersistentServerDetails = client::PersistentServerDetails;

class BindingService {
 public:
  BindingService(imprep::ImpRepository& repository, Activator& activator,
                 PortAllocator& ports, BindingOptions options);
  BindingService(const BindingService&) = delete;
  BindingService& operator=(const BindingService&) = delete;

  // The server details request. Errors: the repository's exception (no
  // usable record, and no unregistered persistent server alive);
  // NO_PERMISSION 10121 (may not invoke) or 10122 (may not launch, asked
  // only when a launch is needed), detail the server; BAD_OPERATION 10246
  // (no command for the marker, detail the marker) or 10247 (per-method, no
  // command for the method, detail the method); IMP_LIMIT 10061 (no port);
  // the launch's exception (NO_IMPLEMENT 10202 when the program did not
  // start or ended at once). A port taken before a failure stays taken.
  Status serverDetails(const Requester& requester, const std::string& server,
                       const std::string& marker, const std::string& method,
                       ServerDetailsReply* out);

  // The request's outputs for clients of the broker's own protocol: the
  // code protocol is always "xdr". Errors as serverDetails.
  Status getImplementationDetails(const Requester& requester,
                                  const std::string& server,
                                  const std::string& marker,
                                  const std::string& method,
                                  ImplementationDetails* out);

  // The IIOP port and activation policy of the request. Errors as
  // serverDetails.
  Status getIIOPDetails(const Requester& requester, const std::string& server,
                        const std::string& marker, const std::string& method,
                        IIOPDetails* out);

  // Records the running process `pid` as the server `server` (started by
  // hand) and tells it its port and protocols. Errors: the repository's
  // exception (no record, UPS off); BAD_OPERATION 10245 (record not shared)
  // or 10243 (a live process is registered or launched under "*"), detail
  // the server; IMP_LIMIT 10061; the activator's INTERNAL 10146.
  Status registerPersistentServer(const Requester& requester,
                                  const std::string& server, std::uint32_t pid,
                                  PersistentServerDetails* out);

  // The descriptors remembered for diagnostics.
  std::optional<int> latestRequester() const { return latestRequester_; }
  std::optional<int> latestRegistrant() const { return latestRegistrant_; }

  const BindingOptions& options() const { return options_; }

 private:
  // The principal of a request, and the remembered requester.
  std::string principalOf(const Requester& requester);
  // A prefixed line on standard output while diagnostics are on.
  void tracePrefixed(const std::string& text) const;
  // Step 3 with UPS on: the reply of an unregistered persistent server.
  bool replyFromUnregistered(const std::string& server,
                             ServerDetailsReply* out);
  // The member of a round-robin group the request goes to ("#i").
  std::string chooseRoundRobinMember(const std::string& server,
                                     std::uint32_t nservers);
  // A port for a launch or registration: the well-known one or a fresh one.
  Status takePort(std::uint32_t wellKnown, int* port);

  imprep::ImpRepository& repository_;
  Activator& activator_;
  PortAllocator& ports_;
  BindingOptions options_;
  std::optional<int> latestRequester_;
  std::optional<int> latestRegistrant_;
};

// The reply text of an activation policy code ("shared", "unshared",
// "per_method"; an unknown code reads as "shared").
const char* activationPolicyText(std::uint32_t policy);

// listActiveServers: every live process of the activator, in walk order,
// as QV_daemon::serverDetails values. The activator's exception, if any.
Status listActiveServers(Activator& activator, std::vector<ServerDetails>* out);

// killServer(name, marker) after the caller passed the access check: the
// process recorded for (name, marker) without principal, else the one of
// the caller's principal, is terminated and its record removed. Errors of
// Activator::killServer (BAD_OPERATION 10241 for an empty name, 10244 when
// nothing is recorded).
Status killServer(Activator& activator, const std::string& name,
                  const std::string& marker,
                  const std::optional<std::string>& callerPrincipal);

}  // namespace talvo

#endif  // TALVO_BINDING_BINDING_SERVICE_H_
