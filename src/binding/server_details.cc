// The server details request: which process serves a client's binding,
// launching it when none suitable runs; round-robin groups choose a member.

#include <cstdio>

#include "binding/binding_service.h"
#include "platform/process.h"
#include "runtime/config/trace_stream.h"

namespace talvo {
namespace {

using imprep::ImpRepository;
using imprep::ImpRepRecord;

std::string decimal(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  return text;
}

}  // namespace

const char* activationPolicyText(std::uint32_t policy) {
  switch (policy) {
    case imprep::kUnshared:
      return "unshared";
    case imprep::kPerMethod:
      return "per_method";
    default:
      return "shared";
  }
}

BindingService::BindingService(imprep::ImpRepository& repository,
                               Activator& activator, PortAllocator& ports,
                               BindingOptions options)
    : repository_(repository),
      activator_(activator),
      ports_(ports),
      options_(std::move(options)) {}

std::string BindingService::principalOf(const Requester& requester) {
  return requester.principal.value_or(options_.daemonUser);
}

void BindingService::tracePrefixed(const std::string& text) const {
  if (!options_.tracePrefix) return;
  std::optional<std::string> prefix = options_.tracePrefix();
  if (!prefix) return;
  traceStream() << *prefix << text << endl;
}

bool BindingService::replyFromUnregistered(const std::string& server,
                                           ServerDetailsReply* out) {
  LaunchRecord* live = activator_.isServerAlive(server, "*", std::nullopt);
  if (live == nullptr) return false;
  out->codeProtocol = live->code;
  out->commsProtocol = live->comms;
  out->commsPort = live->port;
  out->iiopPort = live->port;
  out->activationPolicy = "shared";
  return true;
}

std::string BindingService::chooseRoundRobinMember(const std::string& server,
                                                   std::uint32_t nservers) {
  traceStream() << " using RR server " << endl;
  LaunchRecord* first = activator_.getLaunchRecord(server, "#1", std::nullopt);
  if (first == nullptr) return "#1";
  first->roundRobinCount += 1;
  // The record reader stores a count of 0 as 1; guard all the same.
  std::uint32_t n = nservers == 0 ? 1 : nservers;
  std::uint32_t member = first->roundRobinCount % n + 1;
  std::string pattern = "#" + std::to_string(member);
  traceStream() << " RR is: " << member << " n: " << n << endl;
  traceStream() << " will launch next one: " << pattern << "." << endl;
  return pattern;
}

Status BindingService::takePort(std::uint32_t wellKnown, int* port) {
  if (wellKnown != 0) {
    *port = static_cast<int>(wellKnown);
    return nullptr;
  }
  Status error;
  *port = ports_.allocatePort(error);
  return error;
}

Status BindingService::serverDetails(const Requester& requester,
                                     const std::string& server,
                                     const std::string& marker,
                                     const std::string& method,
                                     ServerDetailsReply* out) {
  // 1. The principal, and the latest requester remembered.
  std::string principal = principalOf(requester);
  if (requester.connection) {
    int fd = *requester.connection;
    traceStream() << " fd: " << static_cast<std::int32_t>(fd) << endl;
    if (latestRequester_ && *latestRequester_ != fd) {
      traceStream() << "   Shutting down getimp fd:"
                    << static_cast<std::int32_t>(*latestRequester_) << endl;
    }
    latestRequester_ = fd;
  }
  // 2.
  tracePrefixed("Processing Server Details request :  " + logged(server) + "/" +
                logged(marker) + "/" + logged(method) + "(" + principal + ")" +
                " ]");

  // 3. The record (shared with the repository's cache); an unregistered
  // persistent server when UPS is on.
  std::shared_ptr<const ImpRepRecord> record;
  if (Status error = repository_.readRecord(server, &record)) {
    if (options_.ups) {
      ServerDetailsReply reply;
      if (replyFromUnregistered(server, &reply)) {
        *out = std::move(reply);
        return nullptr;
      }
    }
    tracePrefixed("Error in implementation repository ]");
    return error;
  }

  // 4. Invoke rights.
  if (!ImpRepository::mayInvoke(*record, principal)) {
    return fail<CORBA::NO_PERMISSION>(10121, server);
  }

  // 5. The marker pattern and method the process is known by.
  const std::uint32_t policy = record->mode();
  const std::uint32_t modeFlags = record->submode();
  std::string requestedMarker = marker;
  std::string pattern;
  std::string processMethod;
  std::optional<imprep::LaunchEntry> entry;
  if (policy == imprep::kPerMethod) {
    entry = record->launchInfo().lookup(method);
    if (!entry) return fail<CORBA::BAD_OPERATION>(10247, method);
    processMethod = method;
  } else {
    entry = record->launchInfo().lookup(marker);
    if (!entry) return fail<CORBA::BAD_OPERATION>(10246, marker);
    if (policy == imprep::kUnshared) {
      pattern = marker;
    } else if (modeFlags == imprep::kRoundRobinPrestart ||
               modeFlags == imprep::kRoundRobinDynamic) {
      // 6. Round robin: the group member this request goes to.
      pattern = chooseRoundRobinMember(server, record->nservers());
    } else {
      pattern = entry->key;
      if (pattern == "*") requestedMarker = "*";
    }
  }
  const bool perClient = modeFlags == imprep::kPrivate;
  const bool perClientPid = modeFlags == imprep::kPrivatePerPid;
  const bool cdr = record->code() == "cdr";

  // 7, 8. A live process is answered without a launch-rights check.
  OptionalText processPrincipal =
      perClient ? OptionalText(principal) : std::nullopt;
  LaunchRecord* live =
      activator_.isServerAlive(server, pattern, processPrincipal);
  if (live != nullptr && !perClientPid) {
    traceStream() << "    yes, it isActive " << endl;
    out->codeProtocol = live->code;
    out->commsProtocol = live->comms;
    out->commsPort = live->port;
    out->iiopPort = cdr ? live->port : live->iiopPort;
    out->activationPolicy = activationPolicyText(policy);
    return nullptr;
  }

  // 9, 10. A launch is needed.
  traceStream() << "   Server not active, try launching it " << endl;
  if (!ImpRepository::mayLaunch(*record, principal)) {
    return fail<CORBA::NO_PERMISSION>(10122, server);
  }
  std::optional<platform::Account> account;
  if (options_.launchAsOwner) {
    // The server runs as its owner: an owner who is no local account, or
    // is root, cannot have it launched.
    account = platform::findAccount(record->owner());
    if (!account || account->uid == 0) {
      return fail<CORBA::NO_PERMISSION>(
          10122, server + " (its owner '" + record->owner() + "' " +
                     (account ? "is root" : "has no local account") +
                     ", and servers run as their owner)");
    }
  }

  // 11. Ports: the well-known one or a fresh one, and a fresh IIOP port.
  int commsPort = 0;
  if (Status error = takePort(record->port(), &commsPort)) return error;
  tracePrefixed(std::string("Dynamically assigning") + " internet port " +
                decimal(commsPort) + " ]");
  Status portError;
  int iiopPort = ports_.allocatePort(portError);
  if (portError) return portError;

  // 12. The launch.
  LaunchRequest launch;
  launch.server = server;
  launch.marker = requestedMarker;
  launch.markerPattern = pattern;
  launch.method = processMethod;
  launch.command = entry->command;
  launch.principal = principal;
  launch.modeFlags = static_cast<int>(modeFlags);
  launch.code = record->code();
  launch.comms = record->comms();
  launch.port = decimal(commsPort);
  launch.iiopPort = decimal(iiopPort);
  launch.daemonPort = options_.daemonPort;
  launch.policy = static_cast<int>(policy);
  launch.account = std::move(account);
  Status launchError = activator_.launchServer(launch);
  traceStream() << " QV_SERVER_MARKER " << requestedMarker << endl;
  traceStream() << " QV_MARKER_PATTERN " << pattern << endl;
  if (launchError) return launchError;

  // 13. The reply.
  out->codeProtocol = record->code();
  out->commsProtocol = record->comms();
  out->commsPort = launch.port;
  out->iiopPort = cdr ? launch.port : launch.iiopPort;
  out->activationPolicy = activationPolicyText(policy);
  return nullptr;
}

Status BindingService::getImplementationDetails(const Requester& requester,
                                                const std::string& server,
                                                const std::string& marker,
                                                const std::string& method,
                                                ImplementationDetails* out) {
  ServerDetailsReply reply;
  if (Status error = serverDetails(requester, server, marker, method, &reply)) {
    return error;
  }
  out->codeProtocol = "xdr";
  out->commsProtocol = std::move(reply.commsProtocol);
  out->commsPort = std::move(reply.commsPort);
  out->activationPolicy = std::move(reply.activationPolicy);
  return nullptr;
}

Status BindingService::getIIOPDetails(const Requester& requester,
                                      const std::string& server,
                                      const std::string& marker,
                                      const std::string& method,
                                      IIOPDetails* out) {
  traceStream() << " getIIOPDetails " << logged(server) << " " << logged(marker)
                << " " << logged(method) << endl;
  ServerDetailsReply reply;
  if (Status error = serverDetails(requester, server, marker, method, &reply)) {
    return error;
  }
  out->iiopPort = std::move(reply.iiopPort);
  out->activationPolicy = std::move(reply.activationPolicy);
  return nullptr;
}

}  // namespace talvo
