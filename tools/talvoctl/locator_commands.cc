// Commands of the locator: lookup, and the host and group lists of servers
// and groups (add-hosts, del-hosts, list-hosts, add-groups, del-groups,
// list-groups).
#include <iostream>
#include <memory>

#include "commands.h"
#include "daemon_connection.h"

namespace talvo::talvoctl {
namespace {

using interface::DaemonClient;
using Strings = std::vector<std::string>;
using Edit = Status (DaemonClient::*)(std::string_view, const Strings&, bool*);
using Read = Status (DaemonClient::*)(std::string_view, Strings*, bool*);

struct ListArgs {
  std::string name;
  Strings items;
  bool group = false;
  bool json = false;
};

// A false result with no exception: the locator did not do it.
void requireOk(std::string_view operation, bool ok) {
  if (!ok) failWith(std::string(operation) + " answered false");
}

void printList(const Strings& items, bool json) {
  if (json) return printJson(items);
  for (const std::string& i : items) std::cout << i << "\n";
  std::cout.flush();
}

// `verb`-hosts NAME HOST... [--group]: a server's or a group's hosts.
void addHostEdit(CLI::App& app, const char* name, const char* help,
                 const char* server_op, Edit server_call, const char* group_op,
                 Edit group_call) {
  auto a = std::make_shared<ListArgs>();
  auto* cmd = app.add_subcommand(name, help);
  cmd->add_option("NAME", a->name, "Server (or group with --group)")
      ->required();
  cmd->add_option("HOST", a->items, "Hosts")->required();
  cmd->add_flag("-g,--group", a->group, "NAME is a group");
  cmd->callback([=] {
    withDaemon([&](DaemonClient& c, Orb&) {
      bool ok = false;
      const char* op = a->group ? group_op : server_op;
      check(op,
            (c.*(a->group ? group_call : server_call))(a->name, a->items, &ok));
      requireOk(op, ok);
    });
  });
}

void addGroupEdit(CLI::App& app, const char* name, const char* help,
                  const char* op, Edit call) {
  auto a = std::make_shared<ListArgs>();
  auto* cmd = app.add_subcommand(name, help);
  cmd->add_option("SERVER", a->name, "Server name")
      ->required()
      ->check(nonEmpty("server name"));
  cmd->add_option("GROUP", a->items, "Groups")->required();
  cmd->callback([=] {
    withDaemon([&](DaemonClient& c, Orb&) {
      bool ok = false;
      check(op, (c.*call)(a->name, a->items, &ok));
      requireOk(op, ok);
    });
  });
}

void addListRead(CLI::App& app, const char* name, const char* help,
                 const char* server_op, Read server_call, const char* group_op,
                 Read group_call) {
  auto a = std::make_shared<ListArgs>();
  auto* cmd = app.add_subcommand(name, help);
  cmd->add_option("NAME", a->name,
                  group_call ? "Server (or group with --group)" : "Server name")
      ->required();
  if (group_call) cmd->add_flag("-g,--group", a->group, "NAME is a group");
  cmd->add_flag("--json", a->json, "Print JSON");
  cmd->callback([=] {
    withDaemon([&](DaemonClient& c, Orb&) {
      bool ok = false;
      Strings items;
      const char* op = a->group ? group_op : server_op;
      check(op,
            (c.*(a->group ? group_call : server_call))(a->name, &items, &ok));
      requireOk(op, ok);
      printList(items, a->json);
    });
  });
}

}  // namespace

void addLocatorCommands(CLI::App& app) {
  using C = DaemonClient;
  {
    struct Args {
      std::string service, tag;
      unsigned hops = 0;
      bool json = false;
    };
    auto a = std::make_shared<Args>();
    auto* cmd = app.add_subcommand(
        "lookup", "Ask the locator which hosts offer a service");
    cmd->add_option("SERVICE", a->service, "Service (server) name")->required();
    cmd->add_option("--hops", a->hops, "Hops to other daemons (0 to 255)")
        ->check(CLI::Range(0, 255));
    cmd->add_option("--tag", a->tag, "Tag of the request");
    cmd->add_flag("--json", a->json, "Print JSON");
    cmd->callback([a] {
      withDaemon([&](DaemonClient& c, Orb&) {
        Strings hosts;
        bool ok = false;
        check("lookUp", c.lookUp(a->service, static_cast<std::uint8_t>(a->hops),
                                 a->tag, &hosts, &ok));
        requireOk("lookUp", ok);
        printList(hosts, a->json);
      });
    });
  }
  addHostEdit(app, "add-hosts", "Add hosts to a server's or group's list",
              "addHostsToServer", &C::addHostsToServer, "addHostsToGroup",
              &C::addHostsToGroup);
  addHostEdit(app, "del-hosts", "Remove hosts from a server's or group's list",
              "delHostsFromServer", &C::delHostsFromServer, "delHostsFromGroup",
              &C::delHostsFromGroup);
  addListRead(app, "list-hosts", "List the hosts of a server or group",
              "listHostsInServer", &C::listHostsInServer, "listHostsInGroup",
              &C::listHostsInGroup);
  addGroupEdit(app, "add-groups", "Add groups to a server's list",
               "addGroupsToServer", &C::addGroupsToServer);
  addGroupEdit(app, "del-groups", "Remove groups from a server's list",
               "delGroupsFromServer", &C::delGroupsFromServer);
  addListRead(app, "list-groups", "List the groups of a server",
              "listGroupsInServer", &C::listGroupsInServer, nullptr, nullptr);
}

}  // namespace talvo::talvoctl
