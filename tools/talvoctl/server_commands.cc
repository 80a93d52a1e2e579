// Commands that create, read and delete server records: create-shared,
// create-unshared, create-per-method, list, show, delete, exists, legacy.
#include <iostream>
#include <memory>

#include "commands.h"
#include "daemon_connection.h"

namespace talvo::talvoctl {
namespace {

using client::DaemonClient;
using client::ServerDescription;
using Strings = std::vector<std::string>;

struct CreateArgs {
  std::string name;
  Strings keys;  // markers or methods
  Strings commands;
  std::uint32_t flags = 0;
  std::uint32_t servers = 1;
  std::int32_t port = 0;
};

void addKeyOptions(CLI::App* cmd, CreateArgs& a, const char* key_flag,
                   const char* key_help) {
  cmd->add_option("NAME", a.name, "Server name")
      ->required()
      ->check(nonEmpty("server name"));
  cmd->add_option(key_flag, a.keys, key_help)
      ->allow_extra_args(false)
      ->required();
  cmd->add_option("-c,--command", a.commands,
                  "Launch command, paired by position (repeatable)")
      ->allow_extra_args(false)
      ->required();
}

// Every marker (or method) needs its launch command, in the same order.
void checkPairs(const CreateArgs& a, const char* key, const char* flag) {
  if (a.keys.size() == a.commands.size()) return;
  throw CLI::ValidationError(std::to_string(a.keys.size()) + " " + key +
                             (a.keys.size() == 1 ? "" : "s") + " but " +
                             std::to_string(a.commands.size()) + " command" +
                             (a.commands.size() == 1 ? "" : "s") +
                             ": give one -c CMD for each " + flag +
                             ", in the same order");
}

// An access list as the record holds it (";u1;u2;") as its names.
Strings accessNames(const std::string& list) {
  Strings names;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(';', start);
    if (end == std::string::npos) end = list.size();
    if (end > start) names.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

std::string joined(const Strings& names) {
  if (names.empty()) return "-";
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

void printDescription(const std::string& name, const ServerDescription& s) {
  const bool per_method = s.activationPolicy == "per_method";
  printTable({"FIELD", "VALUE"},
             {{"server", name},
              {"policy", s.activationPolicy},
              {"mode flags", std::to_string(s.modeFlags)},
              {"servers", std::to_string(s.nservers)},
              {"port", std::to_string(s.port)},
              {"comms", s.commsProtocol},
              {"code", s.codeProtocol},
              {"owner", s.owner},
              {"invoke", joined(accessNames(s.invokeList))},
              {"launch", joined(accessNames(s.launchList))}});
  const Strings& keys = per_method ? s.methods : s.markers;
  std::vector<Strings> rows;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    rows.push_back({keys[i], i < s.commands.size() ? s.commands[i] : ""});
  }
  std::cout << "\n";
  printTable({per_method ? "METHOD" : "MARKER", "COMMAND"}, rows);
}

nlohmann::json descriptionJson(const std::string& name,
                               const ServerDescription& s) {
  return {{"server", name},
          {"activationPolicy", s.activationPolicy},
          {"modeFlags", s.modeFlags},
          {"nservers", s.nservers},
          {"port", s.port},
          {"commsProtocol", s.commsProtocol},
          {"codeProtocol", s.codeProtocol},
          {"owner", s.owner},
          {"invokeList", accessNames(s.invokeList)},
          {"launchList", accessNames(s.launchList)},
          {"markers", s.markers},
          {"methods", s.methods},
          {"commands", s.commands}};
}

// A directory listing: servers, and sub-directories (listed as "NAME -dir-").
nlohmann::json listingJson(const Strings& names) {
  static constexpr std::string_view kDirMark = " -dir-";
  nlohmann::json out = nlohmann::json::array();
  for (const std::string& n : names) {
    const bool dir =
        n.size() > kDirMark.size() &&
        n.compare(n.size() - kDirMark.size(), kDirMark.size(), kDirMark) == 0;
    out.push_back({{"name", dir ? n.substr(0, n.size() - kDirMark.size()) : n},
                   {"type", dir ? "directory" : "server"}});
  }
  return out;
}

}  // namespace

void addServerCommands(CLI::App& app) {
  {
    auto a = std::make_shared<CreateArgs>();
    auto* cmd =
        app.add_subcommand("create-shared",
                           "Create a shared server record (one process serves "
                           "its clients)");
    addKeyOptions(cmd, *a, "-m,--marker", "Marker (repeatable)");
    cmd->add_option("--flags", a->flags, "Mode flags (default 0)");
    auto* servers = cmd->add_option(
        "--servers", a->servers, "Number of servers, round robin (default 1)");
    auto* port = cmd->add_option("--server-port", a->port,
                                 "Well-known port of the server (default 0)");
    cmd->callback([a, servers, port] {
      checkPairs(*a, "marker", "-m MARKER");
      withDaemon([&](DaemonClient& c, Orb&) {
        if (servers->count() == 0 && port->count() == 0) {
          check("newSharedServer",
                c.newSharedServer(a->name, a->keys, a->commands, a->flags));
        } else {
          check("newSharedServer2",
                c.newSharedServer2(a->name, a->keys, a->commands, a->flags,
                                   a->servers, a->port));
        }
      });
    });
  }
  {
    auto a = std::make_shared<CreateArgs>();
    auto* cmd = app.add_subcommand(
        "create-unshared",
        "Create an unshared server record (a process per client)");
    addKeyOptions(cmd, *a, "-m,--marker", "Marker (repeatable)");
    cmd->add_option("--flags", a->flags, "Mode flags (default 0)");
    cmd->callback([a] {
      checkPairs(*a, "marker", "-m MARKER");
      withDaemon([&](DaemonClient& c, Orb&) {
        check("newUnSharedServer",
              c.newUnSharedServer(a->name, a->keys, a->commands, a->flags));
      });
    });
  }
  {
    auto a = std::make_shared<CreateArgs>();
    auto* cmd = app.add_subcommand(
        "create-per-method",
        "Create a per-method server record (a process per call)");
    addKeyOptions(cmd, *a, "-M,--method", "Method (repeatable)");
    cmd->callback([a] {
      checkPairs(*a, "method", "-M METHOD");
      withDaemon([&](DaemonClient& c, Orb&) {
        check("newPerMethodServer",
              c.newPerMethodServer(a->name, a->keys, a->commands));
      });
    });
  }
  {
    auto dir = std::make_shared<std::string>();
    auto json = std::make_shared<bool>(false);
    auto* cmd = app.add_subcommand(
        "list", "List the servers and directories of a directory");
    cmd->add_option("DIR", *dir, "Directory (default: the top)");
    cmd->add_flag("--json", *json, "Print JSON");
    cmd->callback([dir, json] {
      withDaemon([&](DaemonClient& c, Orb&) {
        Strings names;
        check("listServers", c.listServers(*dir, &names));
        if (*json) return printJson(listingJson(names));
        for (const std::string& n : names) std::cout << n << "\n";
      });
    });
  }
  {
    auto name = std::make_shared<std::string>();
    auto json = std::make_shared<bool>(false);
    auto basic = std::make_shared<bool>(false);
    auto* cmd = app.add_subcommand("show", "Show a server record");
    cmd->add_option("NAME", *name, "Server name")
        ->required()
        ->check(nonEmpty("server name"));
    cmd->add_flag("--json", *json, "Print JSON");
    cmd->add_flag("--basic", *basic,
                  "Ask with getServer (no number of servers, no port)");
    cmd->callback([name, json, basic] {
      withDaemon([&](DaemonClient& c, Orb&) {
        ServerDescription s;
        if (*basic) {
          check("getServer", c.getServer(*name, &s));
        } else {
          check("getServer2", c.getServer2(*name, &s));
        }
        if (*json) return printJson(descriptionJson(*name, s));
        printDescription(*name, s);
      });
    });
  }
  {
    auto name = std::make_shared<std::string>();
    auto* cmd = app.add_subcommand("delete", "Delete a server record");
    cmd->add_option("NAME", *name, "Server name")
        ->required()
        ->check(nonEmpty("server name"));
    cmd->callback([name] {
      withDaemon([&](DaemonClient& c, Orb&) {
        check("deleteServer", c.deleteServer(*name));
      });
    });
  }
  {
    auto name = std::make_shared<std::string>();
    auto* cmd = app.add_subcommand(
        "exists", "Say whether a server record exists (exit 3 when not)");
    cmd->add_option("NAME", *name, "Server name")
        ->required()
        ->check(nonEmpty("server name"));
    cmd->callback([name] {
      withDaemon([&](DaemonClient& c, Orb&) {
        bool exists = false;
        check("serverExists", c.serverExists(*name, &exists));
        std::cout << (exists ? "yes" : "no") << std::endl;
        if (!exists) throw CLI::RuntimeError(kAbsentExit);
      });
    });
  }
  {
    auto mode = std::make_shared<std::string>();
    auto* cmd = app.add_subcommand(
        "legacy", "Switch legacy mode (new records use the xdr code)");
    cmd->add_option("MODE", *mode, "on or off")
        ->required()
        ->check(CLI::IsMember({"on", "off"}));
    cmd->callback([mode] {
      withDaemon([&](DaemonClient& c, Orb&) {
        check("registerServerAsLegacy",
              c.registerServerAsLegacy(*mode == "on"));
      });
    });
  }
}

}  // namespace talvo::talvoctl
