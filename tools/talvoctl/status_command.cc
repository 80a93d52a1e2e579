// `talvoctl status`: what the daemon says of itself when a connection is
// bound (its binding message: host, process id, server name), the port and
// protocol it was reached on, and how many running servers it knows.
#include <iostream>

#include "commands.h"
#include "daemon_connection.h"

namespace talvo::talvoctl {

void addStatusCommand(CLI::App& app) {
  auto json = std::make_shared<bool>(false);
  auto* cmd = app.add_subcommand(
      "status", "Show the daemon's host, process id, port and protocol");
  cmd->add_flag("--json", *json, "Print JSON");
  cmd->callback([json] {
    withDaemon([&](client::DaemonClient& c, Orb& orb) {
      // Listing the running servers binds the connection as well.
      std::vector<client::ServerDetails> servers;
      check("listActiveServers", c.listActiveServers(&servers));
      Channel* ch = nullptr;
      check("connect", orb.channelTo(c.target().host, c.target().port, &ch));
      const Session* channel = orb.session(ch->id());
      const std::string protocol =
          c.target().iiop ? "IIOP"
                          : (channel->optimised() ? "Talvo-NULL" : "Talvo-XDR");
      if (*json) {
        return printJson({{"host", channel->hostName()},
                          {"pid", channel->processId()},
                          {"port", portJson(c.target().port)},
                          {"protocol", protocol},
                          {"server", channel->serverName()},
                          {"runningServers", servers.size()}});
      }
      printTable({"FIELD", "VALUE"},
                 {{"host", channel->hostName()},
                  {"pid", std::to_string(channel->processId())},
                  {"port", c.target().port},
                  {"protocol", protocol},
                  {"server", channel->serverName()},
                  {"running servers", std::to_string(servers.size())}});
    });
  });
}

}  // namespace talvo::talvoctl
