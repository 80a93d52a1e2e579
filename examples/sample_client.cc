// talvo_sample_client: calls the sample server's Greeter object at a host
// and port (the port a binding request answered, or the one the server
// printed) and prints what it answered. It tries to connect once, so that
// a server that is not there is reported at once, unless QV_CONNECT_ATTEMPTS
// asks for more attempts.
//
//   talvo_sample_client --port 7600 --marker hello Ada
//   talvo_sample_client --port 7600 --marker hello --ping
//   talvo_sample_client --port 7600 --marker hello --environment

#include <CLI/CLI.hpp>
#include <iostream>
#include <string>

#include "greeter.h"
#include "runtime/config/config_chain.h"
#include "runtime/config/runtime_config.h"
#include "runtime/orb/orb.h"
#include "runtime/transport/socket_failure.h"
#include "runtime/transport/transport_context.h"

namespace {

using talvo::Status;
namespace ex = talvo::examples;

struct Options {
  std::string host = "127.0.0.1";
  std::string port;
  std::string marker;
  std::string server;
  bool ping = false;
  bool environment = false;
  bool verbose = false;
  std::string name = "world";
};

// The process's context, but one connection attempt unless
// QV_CONNECT_ATTEMPTS is set.
class OneAttempt : public talvo::TransportContext {
 public:
  int diagnosticsLevel() override { return process().diagnosticsLevel(); }
  void trace(std::string_view text, bool prefixed) override {
    process().trace(text, prefixed);
  }
  std::optional<std::string> connectAttempts() override {
    std::string configured;  // unset: no default of the run time's
    if (talvo::runtimeConfig().chain().GetValue("QV_CONNECT_ATTEMPTS",
                                                configured) &&
        !configured.empty()) {
      return configured;
    }
    return "1";
  }
  std::optional<std::string> maxMessageSize() override {
    return process().maxMessageSize();
  }

 private:
  static TransportContext& process() { return TransportContext::process(); }
};

int fail(const Options& o, const std::string& what,
         const CORBA::SystemException& e) {
  std::cerr << "talvo_sample_client: " << what << " at " << o.host << ":"
            << o.port << " failed: " << ex::describe(e);
  const bool unreachable =
      e.minor() == talvo::kMinorRefused || e.minor() == talvo::kMinorNoHost ||
      e.minor() == talvo::kMinorTimeout || e.minor() == talvo::kMinorConnect;
  if (dynamic_cast<const CORBA::COMM_FAILURE*>(&e) && unreachable) {
    std::cerr << ". Is the server running there? QV_CONNECT_ATTEMPTS=N "
                 "keeps trying";
  }
  std::cerr << std::endl;
  return 1;
}

int run(const Options& o) {
  // The run time's connection trace lines only with --verbose.
  talvo::runtimeConfig().setDiagnosticsLevel(o.verbose ? 1 : 0);
  OneAttempt context;
  talvo::OrbOptions options;
  options.context = &context;
  talvo::Orb orb(options);
  talvo::Target target;
  target.host = o.host;
  target.port = o.port;
  target.ref = talvo::protocol::ObjectRef(o.host, o.server, o.marker, "", "IR",
                                          ex::kGreeterInterface);
  if (o.ping) {
    talvo::Target object = target;
    object.ref = talvo::protocol::ObjectRef(o.host, o.server, o.marker);
    if (Status st = orb.ping(object)) return fail(o, "_QV_PING", *st);
    std::cout << "object '" << o.marker << "' at " << o.host << ":" << o.port
              << " answers _QV_PING" << std::endl;
    return 0;
  }
  talvo::CallReply reply;
  if (o.environment) {
    if (Status st = orb.call(target, ex::kEnvironmentSignature, {}, reply)) {
      return fail(o, "environment", *st);
    }
    for (const auto& line : reply.result.as<talvo::protocol::Value::List>()) {
      std::cout << line.text() << "\n";
    }
    std::cout.flush();
    return 0;
  }
  if (Status st = orb.call(target, ex::kGreetSignature,
                           {talvo::protocol::Value::ofString(o.name)}, reply)) {
    return fail(o, "greet", *st);
  }
  std::cout << reply.result.text() << std::endl;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app("Calls greet on the sample server's Greeter object",
               "talvo_sample_client");
  Options o;
  app.add_option("--host", o.host, "Host of the server (default 127.0.0.1)");
  app.add_option("--port", o.port, "Port of the server")->required();
  app.add_option("--marker", o.marker, "Marker of the object (default '')");
  app.add_option("--server", o.server, "Server name in the reference");
  app.add_flag("--ping", o.ping, "Only send _QV_PING to the object");
  app.add_flag("--environment", o.environment,
               "Print the launch environment the server read");
  app.add_flag("--verbose", o.verbose, "Show the run time's trace lines");
  app.add_option("name", o.name, "Who to greet (default: world)");
  CLI11_PARSE(app, argc, argv);
  return run(o);
}
