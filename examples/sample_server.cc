// talvo_sample_server: a small server to try the daemon with.
//
// Launched by the daemon, it reads its launch environment (QV_SERVER_NAME,
// QV_SERVER_PORT, QV_SERVER_MARKER, ...) through the run time's
// configuration, initialises as a server on QV_SERVER_PORT and serves the
// object "Greeter" under its launch marker and every --marker given.
//
// Started by hand with --persistent NAME, it registers itself with the
// daemon (found through QV_DAEMON_PORT or --daemon-port) as the persistent
// server NAME, listens on the port the daemon assigns and keeps its
// connection to the daemon open while it serves: that connection is how the
// daemon tells that the process is still alive.
//
// SIGTERM or SIGINT ends it: the loop stops, the sockets close and the
// process exits with 0.

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "client/daemon_client.h"
#include "greeter.h"
#include "platform/environment.h"
#include "platform/system_info.h"
#include "runtime/config/runtime_config.h"
#include "runtime/orb/orb.h"

namespace {

using talvo::Status;
namespace ex = talvo::examples;

volatile std::sig_atomic_t g_stop_signal = 0;

extern "C" void onStopSignal(int signal_number) {
  g_stop_signal = signal_number;
}

struct Options {
  std::optional<std::string> persistent;  // register under this name
  std::optional<std::string> port;        // QV_SERVER_PORT for a hand start
  std::optional<std::string> daemon_port;
  std::string daemon_host = "127.0.0.1";
  std::vector<std::string> markers;
};

// Asks the daemon at `daemon_host` to register this process as the
// persistent server `name`, and hands back the port and protocols it
// assigned. The call's channel stays open in `orb` afterwards.
talvo::Registrar persistentRegistrar(talvo::Orb& orb, std::string daemon_host,
                                     std::uint32_t pid) {
  return [&orb, daemon_host, pid](const std::string& name,
                                  talvo::ServerRegistration& out) -> Status {
    talvo::Target daemon;
    if (Status st = orb.daemonTarget(daemon_host, daemon)) return st;
    talvo::client::DaemonClient client(orb, std::move(daemon));
    talvo::client::PersistentServerDetails assigned;
    if (Status st = client.registerPersistentServer(name, pid, &assigned)) {
      return st;
    }
    out.code = assigned.codeProtocol;
    out.comms = assigned.commsProtocol;
    out.port = assigned.commsPort;
    return nullptr;
  };
}

// Settings that must be in place before the run time reads its
// configuration: it reads each variable once.
void presetEnvironment(const Options& o) {
  namespace platform = talvo::platform;
  if (o.persistent) {
    // The binding message that opens the connection to the daemon names
    // this server; a persistent server serves every marker ("*").
    platform::setEnv("QV_SERVER_NAME", *o.persistent);
    if (!platform::getEnv("QV_MARKER_PATTERN")) {
      platform::setEnv("QV_MARKER_PATTERN", "*");
    }
  }
  if (o.port) platform::setEnv("QV_SERVER_PORT", *o.port);
  if (o.daemon_port) platform::setEnv("QV_DAEMON_PORT", *o.daemon_port);
}

int serve(const Options& o) {
  presetEnvironment(o);
  std::signal(SIGTERM, onStopSignal);
  std::signal(SIGINT, onStopSignal);

  talvo::RuntimeConfig& config = talvo::runtimeConfig();
  const auto pid = static_cast<std::uint32_t>(talvo::platform::processId());
  talvo::Orb orb;

  ex::ServerIdentity who = ex::identityFrom(config, pid);
  auto greeter = ex::makeGreeter(who, ex::launchEnvironment(config));
  // The launch marker ("" for the null marker) and each one asked for.
  std::set<std::string> markers(o.markers.begin(), o.markers.end());
  markers.insert(who.marker);
  for (const std::string& m : markers) orb.serve(m, greeter);

  Status st;
  if (o.persistent) {
    orb.setRegistrar(persistentRegistrar(orb, o.daemon_host, pid));
    st = orb.initialiseServer(*o.persistent, true);
  } else {
    st = orb.initialiseServer("", false);
  }
  if (st) {
    std::cerr << "talvo_sample_server: cannot start: " << ex::describe(*st)
              << std::endl;
    return 1;
  }

  std::string listed;
  for (const std::string& m : markers) {
    listed += (listed.empty() ? "'" : ", '") + m + "'";
  }
  const char* port = config.serverPort();
  std::cout << "talvo_sample_server: server " << who.server_name << " (pid "
            << pid << ") serves markers " << listed << " on port "
            << (port != nullptr ? port : "?") << std::endl;

  while (g_stop_signal == 0) {
    // Nothing ready within the wait is not a failure; a failure of the
    // loop itself is reported and ends the server.
    if (Status loop = orb.runOnce(250)) {
      std::cerr << "talvo_sample_server: " << ex::describe(*loop) << std::endl;
      return 1;
    }
  }
  std::cout << "talvo_sample_server: server " << who.server_name
            << " ends on signal " << static_cast<int>(g_stop_signal)
            << std::endl;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app(
      "Sample server of the Talvo daemon: serves the object \"Greeter\"\n"
      "(operations greet and environment). Launched by the daemon it reads\n"
      "its launch environment; with --persistent it registers itself.",
      "talvo_sample_server");
  Options o;
  app.add_option("--persistent", o.persistent,
                 "Register with the daemon as the persistent server NAME");
  app.add_option("--port", o.port,
                 "Port to listen on when started by hand (QV_SERVER_PORT)");
  app.add_option("--daemon-port", o.daemon_port,
                 "The daemon's port (default: QV_DAEMON_PORT)");
  app.add_option("--daemon-host", o.daemon_host,
                 "The daemon's host (default: 127.0.0.1)");
  app.add_option("--marker", o.markers,
                 "Serve the object under this marker too (repeatable)");
  CLI11_PARSE(app, argc, argv);
  return serve(o);
}
