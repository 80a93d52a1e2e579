#include "daemon_connection.h"

#include <algorithm>
#include <iostream>
#include <memory>

#include "runtime/config/runtime_config.h"
#include "runtime/protocol/dispatcher.h"
#include "runtime/protocol/object_ref.h"
#include "runtime/transport/transport_context.h"

namespace talvo::talvoctl {
namespace {

struct Endpoint {
  std::string host = "127.0.0.1";
  std::string port;  // empty: QV_DAEMON_PORT
  bool verbose = false;
};

Endpoint& endpoint() {
  static Endpoint e;
  return e;
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
    return process().connectAttempts();
  }
  std::optional<std::string> maxMessageSize() override {
    return process().maxMessageSize();
  }
  void sleep(std::chrono::milliseconds duration) override {
    process().sleep(duration);
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
  client::DaemonClient client(orb, std::move(target));
  body(client, orb);
}

void check(std::string_view operation, Status st) {
  if (st == nullptr) return;
  std::cerr << "talvoctl: " << operation << " failed: CORBA::" << st->bareName()
            << "\n";
  st->print(std::cerr);
  std::cerr.flush();
  throw CLI::RuntimeError(kFailureExit);
}

void failWith(const std::string& message) {
  std::cerr << "talvoctl: " << message << "\n";
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

void printJson(const nlohmann::json& value) {
  std::cout << value.dump(2) << "\n";
  std::cout.flush();
}

}  // namespace talvo::talvoctl
