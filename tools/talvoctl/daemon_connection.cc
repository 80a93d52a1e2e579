#include "daemon_connection.h"

#include <algorithm>
#include <iostream>
#include <memory>

#include "runtime/config/config_chain.h"
#include "runtime/config/runtime_config.h"
#include "runtime/except/catalogue.h"
#include "runtime/protocol/dispatcher.h"
#include "runtime/protocol/object_ref.h"
#include "runtime/transport/socket_failure.h"
#include "runtime/transport/transport_context.h"

namespace talvo::talvoctl {
namespace {

// Minor code of a configuration variable without a value (NO_CONFIG_VALUE).
constexpr std::uint32_t kMinorNoConfigValue = 10621;

struct Endpoint {
  std::string host = "127.0.0.1";
  std::string port;    // empty: QV_DAEMON_PORT
  unsigned retry = 0;  // 0: QV_CONNECT_ATTEMPTS, else one attempt
  bool verbose = false;
  std::string tried_port;  // the port of the daemon's target
  std::string command;
};

Endpoint& endpoint() {
  static Endpoint e;
  return e;
}

// The attempts the connection makes: --retry, else QV_CONNECT_ATTEMPTS when
// it is configured, else one, so that a missing daemon is reported at once.
std::optional<std::string> toolConnectAttempts() {
  if (endpoint().retry > 0) return std::to_string(endpoint().retry);
  std::string configured;
  if (runtimeConfig().chain().GetValue("QV_CONNECT_ATTEMPTS", configured) &&
      !configured.empty()) {
    return configured;
  }
  return "1";
}

// The failure of a connection to the daemon, in a sentence.
const char* connectionProblem(std::uint32_t minor) {
  switch (minor) {
    case kMinorRefused:
      return "the connection was refused";
    case kMinorNoHost:
      return "the host name cannot be resolved";
    case kMinorTimeout:
      return "it did not answer in time";
    case kMinorBinding:
      return "what answers there is not a Talvo daemon";
    default:
      return nullptr;
  }
}

// The exception's printed form after the command's own message. Without a
// catalogue that form says only "No error file specified": then nothing
// more is said when the message has `described` the failure, else the
// minor code is given.
void printDetail(const Status& st, bool described) {
  if (processCatalogue().load()) {
    st->print(std::cerr);
  } else if (!described) {
    std::cerr << "(minor code " << st->minor()
              << "; set QV_ERRORS to the error catalogue for its text)\n";
  }
  std::cerr.flush();
}

// The run time's trace lines go to standard error, so that standard output
// holds only what the command prints (tables, JSON).
class StderrTransport : public TransportContext {
 public:
  int diagnosticsLevel() override { return process().diagnosticsLevel(); }
  void trace(std::string_view text, bool prefixed) override {
    if (prefixed) std::cerr << runtimeConfig().tracePrefix();
    std::cerr << text << std::endl;
  }
  std::optional<std::string> connectAttempts() override {
    return toolConnectAttempts();
  }
  std::optional<std::string> maxMessageSize() override {
    return process().maxMessageSize();
  }

 private:
  static TransportContext& process() { return TransportContext::process(); }
};

class StderrTrace : public protocol::TraceSink {
 public:
  int level() const override { return protocol::runtimeTraceSink().level(); }
  void line(std::string_view text) override {
    std::cerr << runtimeConfig().tracePrefix() << text << std::endl;
  }
};

// The daemon's target at the chosen host and port.
Status daemonTarget(Orb& orb, Target& out) {
  const Endpoint& e = endpoint();
  if (e.port.empty()) return orb.daemonTarget(e.host, out);
  protocol::DaemonEndpoint where;
  if (Status st = protocol::daemonEndpoint(orb.config().daemonProtocol(),
                                           e.port.c_str(), e.host, where)) {
    return st;
  }
  Target t;
  t.host = where.host;
  t.port = where.port;
  t.iiop = where.iiop;
  if (Status st = protocol::ObjectRef::parse(where.reference, t.ref)) {
    return st;
  }
  out = std::move(t);
  return nullptr;
}

}  // namespace

void addDaemonOptions(CLI::App& app) {
  Endpoint& e = endpoint();
  app.add_option("--host", e.host, "Host of the daemon (default: this host)")
      ->type_name("HOST");
  app.add_option("--port", e.port,
                 "Port of the daemon (default: QV_DAEMON_PORT)")
      ->type_name("PORT")
      ->check(CLI::Range(1, 65535));
  app.add_option("--retry", e.retry,
                 "Connection attempts, 2 s apart (default: "
                 "QV_CONNECT_ATTEMPTS, else 1)")
      ->type_name("N")
      ->check(CLI::Range(1, 1000));
  app.add_flag("-v,--verbose", e.verbose,
               "Write the run time's trace lines to standard error");
  app.fallthrough();
}

void withDaemon(const std::function<void(client::DaemonClient&, Orb&)>& body) {
  runtimeStartup();
  // A tool is silent unless asked: trace lines only with --verbose.
  runtimeConfig().setDiagnosticsLevel(endpoint().verbose ? 1 : 0);
  StderrTransport transport;
  StderrTrace trace;
  OrbOptions options;
  options.context = &transport;
  options.trace = &trace;
  options.reply_timeout_ms = 30000;
  Orb orb(options);
  Target target;
  check("connect", daemonTarget(orb, target));
  endpoint().tried_port = target.port;
  client::DaemonClient client(orb, std::move(target));
  body(client, orb);
}

void setCommandName(const std::string& name) { endpoint().command = name; }
const std::string& commandName() { return endpoint().command; }

CLI::Validator nonEmpty(const std::string& what) {
  return CLI::Validator(
      [what](std::string& text) {
        return text.empty() ? "the " + what + " is empty" : std::string();
      },
      "");
}

std::string daemonEndpointText() {
  const Endpoint& e = endpoint();
  return e.host + ":" + (e.tried_port.empty() ? e.port : e.tried_port);
}

void check(std::string_view operation, Status st) {
  if (st == nullptr) return;
  const Endpoint& e = endpoint();
  std::cerr << "talvoctl " << e.command << ": ";
  const bool comm = dynamic_cast<const CORBA::COMM_FAILURE*>(st.get());
  if (st->minor() == kMinorNoConfigValue && e.port.empty()) {
    std::cerr << "no daemon port is configured: set QV_DAEMON_PORT (in the "
                 "environment, the configuration file or the settings "
                 "store), or give --port PORT\n";
    throw CLI::RuntimeError(kFailureExit);
  }
  const char* problem = comm ? connectionProblem(st->minor()) : nullptr;
  if (problem) {
    std::cerr << "cannot reach the daemon at " << daemonEndpointText() << ": "
              << problem
              << ". Is talvod running there? --host and --port choose "
                 "another daemon, --retry N keeps trying.\n";
  } else {
    std::cerr << "failed with CORBA::" << st->bareName();
    if (e.verbose) std::cerr << " (operation " << operation << ")";
    std::cerr << "\n";
  }
  printDetail(st, problem != nullptr);
  throw CLI::RuntimeError(kFailureExit);
}

void failWithStatus(const std::string& message, Status st) {
  std::cerr << "talvoctl " << endpoint().command << ": " << message
            << " (CORBA::" << st->bareName() << ")\n";
  printDetail(st, false);
  throw CLI::RuntimeError(kFailureExit);
}

void failWith(const std::string& message) {
  std::cerr << "talvoctl " << endpoint().command << ": " << message << "\n";
  throw CLI::RuntimeError(kFailureExit);
}

void printTable(const std::vector<std::string>& headers,
                const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> width(headers.size());
  for (std::size_t i = 0; i < headers.size(); ++i) width[i] = headers[i].size();
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size() && i < width.size(); ++i) {
      width[i] = std::max(width[i], row[i].size());
    }
  }
  auto line = [&](const std::vector<std::string>& cells) {
    std::string out;
    for (std::size_t i = 0; i < cells.size() && i < width.size(); ++i) {
      out += cells[i];
      if (i + 1 < cells.size())
        out += std::string(width[i] - cells[i].size() + 2, ' ');
    }
    std::cout << out << "\n";
  };
  line(headers);
  for (const auto& row : rows) line(row);
  std::cout.flush();
}

nlohmann::json portJson(const std::string& port) {
  if (port.empty() || port.size() > 5 ||
      port.find_first_not_of("0123456789") != std::string::npos) {
    return nullptr;
  }
  return std::stoi(port);
}

void printJson(const nlohmann::json& value) {
  std::cout << value.dump(2) << "\n";
  std::cout.flush();
}

}  // namespace talvo::talvoctl
