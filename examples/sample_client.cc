// talvo_sample_client: calls the sample server's Greeter object at a host
// and port (the port a binding request answered, or the one the server
// printed) and prints what it answered.
//
//   talvo_sample_client --port 7600 --marker hello Ada
//   talvo_sample_client --port 7600 --marker hello --ping
//   talvo_sample_client --port 7600 --marker hello --environment

#include <CLI/CLI.hpp>
#include <iostream>
#include <string>

#include "greeter.h"
#include "runtime/config/runtime_config.h"
#include "runtime/orb/orb.h"

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

int fail(const std::string& what, const CORBA::SystemException& e) {
  std::cerr << "talvo_sample_client: " << what << " failed: " << ex::describe(e)
            << std::endl;
  return 1;
}

int run(const Options& o) {
  // The run time's connection trace lines only with --verbose.
  talvo::runtimeConfig().setDiagnosticsLevel(o.verbose ? 1 : 0);
  talvo::Orb orb;
  talvo::Target target;
  target.host = o.host;
  target.port = o.port;
  target.ref = talvo::protocol::ObjectRef(o.host, o.server, o.marker, "", "IR",
                                          ex::kGreeterInterface);
  if (o.ping) {
    talvo::Target object = target;
    object.ref = talvo::protocol::ObjectRef(o.host, o.server, o.marker);
    if (Status st = orb.ping(object)) return fail("_QV_PING", *st);
    std::cout << "object '" << o.marker << "' at " << o.host << ":" << o.port
              << " answers _QV_PING" << std::endl;
    return 0;
  }
  talvo::CallReply reply;
  if (o.environment) {
    if (Status st = orb.call(target, ex::kEnvironmentSignature, {}, reply)) {
      return fail("environment", *st);
    }
    for (const auto& line : reply.result.as<talvo::protocol::Value::List>()) {
      std::cout << line.text() << "\n";
    }
    std::cout.flush();
    return 0;
  }
  if (Status st = orb.call(target, ex::kGreetSignature,
                           {talvo::protocol::Value::ofString(o.name)}, reply)) {
    return fail("greet", *st);
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
