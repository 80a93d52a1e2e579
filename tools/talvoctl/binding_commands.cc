// Commands of binding and activation: bind, iiop, register, active, kill.
#include <iostream>
#include <memory>

#include "commands.h"
#include "daemon_connection.h"

namespace talvo::talvoctl {
namespace {

using client::DaemonClient;

struct BindArgs {
  std::string server;
  std::string marker;
  std::string method;
  bool ping = false;
  bool json = false;
};

const char* statusName(client::LaunchStatus s) {
  switch (s) {
    case client::LaunchStatus::kInActive:
      return "inActive";
    case client::LaunchStatus::kManualLaunch:
      return "manualLaunch";
    case client::LaunchStatus::kAutomaticLaunch:
      return "automaticLaunch";
  }
  return "unknown";
}

void addBindOptions(CLI::App* cmd, BindArgs& a) {
  cmd->add_option("SERVER", a.server, "Server name")
      ->required()
      ->check(nonEmpty("server name"));
  cmd->add_option("MARKER", a.marker,
                  "Marker (default: any: the first of the server's record)");
  cmd->add_option("--method", a.method, "Method (per-method servers)");
  cmd->add_flag("--json", a.json, "Print JSON");
}

// "Any marker": the first marker of the server's record, when neither a
// marker nor a method is given and the record has one.
void resolveMarker(DaemonClient& c, BindArgs& a) {
  if (!a.marker.empty() || !a.method.empty()) return;
  client::ServerDescription s;
  if (c.getServer(a.server, &s) == nullptr && !s.markers.empty()) {
    a.marker = s.markers.front();
  }
}

}  // namespace

void addBindingCommands(CLI::App& app) {
  {
    auto a = std::make_shared<BindArgs>();
    auto* cmd = app.add_subcommand(
        "bind", "Ask the daemon for a server's port, starting it if needed");
    addBindOptions(cmd, *a);
    cmd->add_flag("--ping", a->ping, "Then ping the object at that port");
    cmd->callback([a] {
      withDaemon([&](DaemonClient& c, Orb& orb) {
        resolveMarker(c, *a);
        client::ImplementationDetails d;
        check("getImplementationDetails",
              c.getImplementationDetails(a->server, a->marker, a->method, &d));
        if (a->ping) {
          Target object;
          if (Status st = orb.bind(a->marker, a->server, c.target().host,
                                   d.commsPort, object)) {
            failWithStatus("the server at " + c.target().host + ":" +
                               d.commsPort + " does not answer its ping",
                           std::move(st));
          }
        }
        if (a->json) {
          nlohmann::json out = {{"server", a->server},
                                {"marker", a->marker},
                                {"port", portJson(d.commsPort)},
                                {"commsProtocol", d.commsProtocol},
                                {"codeProtocol", d.codeProtocol},
                                {"activationPolicy", d.activationPolicy}};
          if (a->ping) out["ping"] = "ok";
          return printJson(out);
        }
        printTable({"PORT", "COMMS", "CODE", "POLICY", "MARKER"},
                   {{d.commsPort, d.commsProtocol, d.codeProtocol,
                     d.activationPolicy, a->marker}});
        if (a->ping) std::cout << "ping: ok" << std::endl;
      });
    });
  }
  {
    auto a = std::make_shared<BindArgs>();
    auto* cmd =
        app.add_subcommand("iiop", "Ask the daemon for a server's IIOP port");
    addBindOptions(cmd, *a);
    cmd->callback([a] {
      withDaemon([&](DaemonClient& c, Orb&) {
        resolveMarker(c, *a);
        client::IiopDetails d;
        check("getIIOPDetails",
              c.getIIOPDetails(a->server, a->marker, a->method, &d));
        if (a->json) {
          return printJson({{"server", a->server},
                            {"marker", a->marker},
                            {"iiopPort", portJson(d.iiopPort)},
                            {"activationPolicy", d.activationPolicy}});
        }
        printTable({"IIOP PORT", "POLICY"}, {{d.iiopPort, d.activationPolicy}});
      });
    });
  }
  {
    struct Args {
      std::string server;
      std::uint32_t pid = 0;
    };
    auto a = std::make_shared<Args>();
    auto* cmd = app.add_subcommand(
        "register", "Register a running process as a persistent server");
    cmd->add_option("SERVER", a->server, "Server name")
        ->required()
        ->check(nonEmpty("server name"));
    cmd->add_option("PID", a->pid, "Its process id")->required();
    cmd->callback([a] {
      withDaemon([&](DaemonClient& c, Orb&) {
        client::PersistentServerDetails d;
        check("registerPersistentServer",
              c.registerPersistentServer(a->server, a->pid, &d));
        printTable({"PORT", "COMMS", "CODE"},
                   {{d.commsPort, d.commsProtocol, d.codeProtocol}});
      });
    });
  }
  {
    auto json = std::make_shared<bool>(false);
    auto* cmd = app.add_subcommand("active", "List the running servers");
    cmd->add_flag("--json", *json, "Print JSON");
    cmd->callback([json] {
      withDaemon([&](DaemonClient& c, Orb&) {
        std::vector<client::ServerDetails> servers;
        check("listActiveServers", c.listActiveServers(&servers));
        if (*json) {
          nlohmann::json out = nlohmann::json::array();
          for (const auto& s : servers) {
            out.push_back({{"server", s.server},
                           {"marker", s.marker},
                           {"principal", s.principal},
                           {"codeProtocol", s.code},
                           {"commsProtocol", s.comms},
                           {"port", portJson(s.port)},
                           {"pid", s.osSpecific},
                           {"status", statusName(s.status)}});
          }
          return printJson(out);
        }
        std::vector<std::vector<std::string>> rows;
        for (const auto& s : servers) {
          rows.push_back({s.server, s.marker, s.principal, s.port,
                          std::to_string(s.osSpecific), statusName(s.status),
                          s.comms, s.code});
        }
        printTable({"SERVER", "MARKER", "PRINCIPAL", "PORT", "PID", "STATUS",
                    "COMMS", "CODE"},
                   rows);
      });
    });
  }
  {
    struct Args {
      std::string server, marker;
    };
    auto a = std::make_shared<Args>();
    auto* cmd = app.add_subcommand("kill", "Stop a running server");
    cmd->add_option("SERVER", a->server, "Server name")
        ->required()
        ->check(nonEmpty("server name"));
    auto* marker = cmd->add_option(
        "MARKER", a->marker, "Marker (default: any: every running process)");
    cmd->callback([a, marker] {
      withDaemon([&](DaemonClient& c, Orb&) {
        if (marker->count() > 0) {
          check("killServer", c.killServer(a->server, a->marker));
          return;
        }
        // Any marker: every running process of the server.
        std::vector<client::ServerDetails> servers;
        check("listActiveServers", c.listActiveServers(&servers));
        int killed = 0;
        for (const auto& s : servers) {
          if (s.server != a->server) continue;
          check("killServer", c.killServer(s.server, s.marker));
          ++killed;
        }
        if (killed == 0) failWith("no process of " + a->server + " is running");
      });
    });
  }
}

}  // namespace talvo::talvoctl
