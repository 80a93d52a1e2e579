// `talvoctl ior`: the interoperable reference of the running daemon, or of
// an object of one of its registered servers reached through the daemon's
// port, as a client of any ORB takes it.
//
// The daemon's qualified host name comes from the binding message it
// answers with on the broker protocol (the name it writes into its own
// reference), so the text printed is the one the daemon writes to its
// reference file when it stops. The broker protocol is used for that
// exchange whatever QV_DAEMON_PROTOCOL says: both protocols share the port.
#include <iostream>
#include <memory>

#include "commands.h"
#include "daemon_connection.h"
#include "runtime/protocol/object_ref.h"

namespace talvo::talvoctl {
namespace {

struct IorArgs {
  std::string server;
  std::string marker;
  std::string interface_name;
};

// Refuses text that would end its field of a string reference early.
CLI::Validator noColon(const std::string& what) {
  return CLI::Validator(
      [what](std::string& text) {
        return text.find(':') != std::string::npos
                   ? "the " + what + " may not hold ':'"
                   : std::string();
      },
      "");
}

}  // namespace

void addIorCommand(CLI::App& app) {
  auto a = std::make_shared<IorArgs>();
  auto* cmd = app.add_subcommand(
      "ior",
      "Print the daemon's interoperable reference (IOR), or one to an object "
      "of a registered server");
  auto* server =
      cmd->add_option("--server", a->server,
                      "A registered server: print a reference to its object, "
                      "reached through the daemon's port")
          ->type_name("SERVER")
          ->check(nonEmpty("server name"))
          ->check(noColon("server name"));
  cmd->add_option("--marker", a->marker,
                  "The object's marker within the server (default: empty)")
      ->type_name("MARKER")
      ->check(noColon("marker"))
      ->needs(server);
  auto* iface = cmd->add_option("--interface", a->interface_name,
                                "The object's IDL interface, e.g. Greeter "
                                "(its type id is IDL:<interface>:1.0)")
                    ->type_name("INTERFACE")
                    ->check(nonEmpty("interface name"))
                    ->needs(server);
  server->needs(iface);
  cmd->callback([a] {
    withDaemon([&](client::DaemonClient& c, Orb& orb) {
      const Target& daemon = c.target();
      Channel* ch = nullptr;
      check("connect", orb.channelTo(daemon.host, daemon.port, &ch));
      const Session* peer = orb.session(ch->id());
      if (peer->serverName() != "QV_daemon") {
        failWith("what answers at " + daemonEndpointText() +
                 " is the server '" + peer->serverName() +
                 "', not a Talvo daemon");
      }
      const std::string& host = peer->hostName();
      if (host.empty()) {
        failWith("the daemon at " + daemonEndpointText() +
                 " did not say its host name");
      }
      std::string reference = protocol::daemonReference(host);
      if (!a->server.empty()) {
        bool exists = false;
        check("serverExists", c.serverExists(a->server, &exists));
        if (!exists) {
          failWith("the daemon at " + daemonEndpointText() +
                   " has no server '" + a->server + "'");
        }
        reference = protocol::ObjectRef(host, a->server, a->marker, "", "IR",
                                        a->interface_name)
                        .toString();
      }
      // The port connected to, so a number that fits.
      const auto port = static_cast<std::uint16_t>(
          portJson(daemon.port).get<std::uint32_t>());
      std::string text;
      check("ior", protocol::iorForReference(reference, host, port, text));
      std::cout << text << std::endl;
    });
  });
}

}  // namespace talvo::talvoctl
