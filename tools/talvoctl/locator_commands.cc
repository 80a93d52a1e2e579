// Commands of the locator: lookup, and the host and group lists of servers
// and groups (add-hosts, del-hosts, list-hosts, add-groups, del-groups,
// list-groups).
#include <iostream>
#include <memory>
#include <type_traits>

#include "commands.h"
#include "daemon_connection.h"

namespace talvo::talvoctl {
namespace {

using client::DaemonClient;
using Strings = std::vector<std::string>;
using namespace client::op;  // NOLINT

struct ListArgs {
  std::string name;
  Strings items;
  bool group = false;
  bool json = false;
};

bool communication(const Status& st) {
  return dynamic_cast<const CORBA::COMM_FAILURE*>(st.get()) != nullptr;
}

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
template <class ServerOp, class GroupOp>
void addHostEdit(CLI::App& app, const char* name, const char* help) {
  auto a = std::make_shared<ListArgs>();
  auto* cmd = app.add_subcommand(name, help);
  cmd->add_option("NAME", a->name, "Server (or group with --group)")
      ->required();
  cmd->add_option("HOST", a->items, "Hosts")->required();
  cmd->add_flag("-g,--group", a->group, "NAME is a group");
  cmd->callback([=] {
    withDaemon([&](DaemonClient& c, Orb&) {
      bool ok = false;
      const std::string_view op = a->group ? GroupOp::name : ServerOp::name;
      auto* call =
          a->group ? DaemonClient::stub<GroupOp> : DaemonClient::stub<ServerOp>;
      check(op, call(c, a->name, a->items, &ok));
      requireOk(op, ok);
    });
  });
}

template <class Op>
void addGroupEdit(CLI::App& app, const char* name, const char* help) {
  auto a = std::make_shared<ListArgs>();
  auto* cmd = app.add_subcommand(name, help);
  cmd->add_option("SERVER", a->name, "Server name")
      ->required()
      ->check(nonEmpty("server name"));
  cmd->add_option("GROUP", a->items, "Groups")->required();
  cmd->callback([=] {
    withDaemon([&](DaemonClient& c, Orb&) {
      bool ok = false;
      check(Op::name, c.call<Op>(a->name, a->items, &ok));
      requireOk(Op::name, ok);
    });
  });
}

// GroupOp void: the command reads a server's list only.
template <class ServerOp, class GroupOp>
void addListRead(CLI::App& app, const char* name, const char* help) {
  constexpr bool kGroups = !std::is_void_v<GroupOp>;
  auto a = std::make_shared<ListArgs>();
  auto* cmd = app.add_subcommand(name, help);
  cmd->add_option("NAME", a->name,
                  kGroups ? "Server (or group with --group)" : "Server name")
      ->required();
  if (kGroups) cmd->add_flag("-g,--group", a->group, "NAME is a group");
  cmd->add_flag("--json", a->json, "Print JSON");
  cmd->callback([=] {
    withDaemon([&](DaemonClient& c, Orb&) {
      bool ok = false;
      Strings items;
      std::string_view op = ServerOp::name;
      auto* call = DaemonClient::stub<ServerOp>;
      if constexpr (kGroups) {
        if (a->group) {
          op = GroupOp::name;
          call = DaemonClient::stub<GroupOp>;
        }
      }
      check(op, call(c, a->name, &items, &ok));
      requireOk(op, ok);
      printList(items, a->json);
    });
  });
}

}  // namespace

void addLocatorCommands(CLI::App& app) {
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
        Status st = c.lookUp(a->service, static_cast<std::uint8_t>(a->hops),
                             a->tag, &hosts, &ok);
        if (a->hops > 0 && communication(st)) {
          // The daemon may have answered with its peer's failure: it is
          // there when it answers another question.
          bool exists = false;
          if (!communication(c.serverExists("QV_daemon", &exists))) {
            failWithStatus("the daemon at " + daemonEndpointText() +
                               " passed the question on and the next daemon "
                               "did not answer",
                           std::move(st));
          }
        }
        check("lookUp", std::move(st));
        requireOk("lookUp", ok);
        printList(hosts, a->json);
      });
    });
  }
  addHostEdit<AddHostsToServer, AddHostsToGroup>(
      app, "add-hosts", "Add hosts to a server's or group's list");
  addHostEdit<DelHostsFromServer, DelHostsFromGroup>(
      app, "del-hosts", "Remove hosts from a server's or group's list");
  addListRead<ListHostsInServer, ListHostsInGroup>(
      app, "list-hosts", "List the hosts of a server or group");
  addGroupEdit<AddGroupsToServer>(app, "add-groups",
                                  "Add groups to a server's list");
  addGroupEdit<DelGroupsFromServer>(app, "del-groups",
                                    "Remove groups from a server's list");
  addListRead<ListGroupsInServer, void>(app, "list-groups",
                                        "List the groups of a server");
}

}  // namespace talvo::talvoctl
