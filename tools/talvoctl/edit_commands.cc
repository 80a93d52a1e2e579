// Commands that change records and directories: add-marker, remove-marker,
// add-method, remove-method, mkdir, rmdir, chown, grant, revoke.
#include <memory>

#include "commands.h"
#include "daemon_connection.h"

namespace talvo::talvoctl {
namespace {

using client::DaemonClient;

struct EditArgs {
  std::string server;
  std::string key;
  std::string command;
  bool shared = false;
  bool unshared = false;
};

// Adds --shared and --unshared (mutually exclusive) to a marker command.
void addMarkerKind(CLI::App* cmd, EditArgs& a) {
  auto* s = cmd->add_flag("--shared", a.shared,
                          "Only for a shared server (addSharedMarker)");
  auto* u = cmd->add_flag("--unshared", a.unshared,
                          "Only for an unshared server (addUnsharedMarker)");
  s->excludes(u);
}

// What `grant`/`revoke` do for a right and the kind of name.
struct RightsOp {
  std::string_view operation;
  Status (*call)(DaemonClient&, std::string_view, std::string_view);
};

template <class Add, class Remove>
RightsOp pick(bool add) {
  return add ? RightsOp{Add::name, DaemonClient::stub<Add>}
             : RightsOp{Remove::name, DaemonClient::stub<Remove>};
}

RightsOp rightsOp(bool add, const std::string& right, bool dir) {
  using namespace client::op;  // NOLINT
  if (right == "launch") {
    return dir ? pick<AddLaunchRightsDir, RemoveLaunchRightsDir>(add)
               : pick<AddLaunchRights, RemoveLaunchRights>(add);
  }
  if (right == "invoke") {
    return dir ? pick<AddInvokeRightsDir, RemoveInvokeRightsDir>(add)
               : pick<AddInvokeRights, RemoveInvokeRights>(add);
  }
  return pick<AddDirRights, RemoveDirRights>(add);
}

void addRightsCommand(CLI::App& app, bool add) {
  struct Args {
    std::string right, user, name;
    bool dir = false;
  };
  auto a = std::make_shared<Args>();
  auto* cmd = app.add_subcommand(
      add ? "grant" : "revoke",
      add ? "Give a user or group launch, invoke or directory rights"
          : "Take launch, invoke or directory rights from a user or group");
  cmd->add_option("RIGHT", a->right,
                  "launch, invoke, or dir (directory rights; needs --dir)")
      ->required()
      ->check(CLI::IsMember({"launch", "invoke", "dir"}));
  cmd->add_option("USER", a->user, "User or group")->required();
  cmd->add_option("NAME", a->name, "Server (or directory with --dir)")
      ->required();
  cmd->add_flag("-d,--dir", a->dir, "NAME is a directory");
  cmd->callback([a, add] {
    if (a->right == "dir" && !a->dir) {
      throw CLI::ValidationError("RIGHT",
                                 "dir rights apply to directories: "
                                 "add --dir");
    }
    RightsOp op = rightsOp(add, a->right, a->dir);
    withDaemon([&](DaemonClient& c, Orb&) {
      check(op.operation, op.call(c, a->user, a->name));
    });
  });
}

}  // namespace

void addEditCommands(CLI::App& app) {
  {
    auto a = std::make_shared<EditArgs>();
    auto* cmd = app.add_subcommand("add-marker", "Add a marker to a server");
    cmd->add_option("SERVER", a->server, "Server name")
        ->required()
        ->check(nonEmpty("server name"));
    cmd->add_option("MARKER", a->key, "Marker")->required();
    cmd->add_option("COMMAND", a->command, "Launch command")->required();
    addMarkerKind(cmd, *a);
    cmd->callback([a] {
      withDaemon([&](DaemonClient& c, Orb&) {
        if (a->shared) {
          check("addSharedMarker",
                c.addSharedMarker(a->server, a->key, a->command));
        } else if (a->unshared) {
          check("addUnsharedMarker",
                c.addUnsharedMarker(a->server, a->key, a->command));
        } else {
          check("addMarker", c.addMarker(a->server, a->key, a->command));
        }
      });
    });
  }
  {
    auto a = std::make_shared<EditArgs>();
    auto* cmd =
        app.add_subcommand("remove-marker", "Remove a marker from a server");
    cmd->add_option("SERVER", a->server, "Server name")
        ->required()
        ->check(nonEmpty("server name"));
    cmd->add_option("MARKER", a->key, "Marker")->required();
    addMarkerKind(cmd, *a);
    cmd->callback([a] {
      withDaemon([&](DaemonClient& c, Orb&) {
        if (a->shared) {
          check("removeSharedMarker", c.removeSharedMarker(a->server, a->key));
        } else if (a->unshared) {
          check("removeUnsharedMarker",
                c.removeUnsharedMarker(a->server, a->key));
        } else {
          check("removeMarker", c.removeMarker(a->server, a->key));
        }
      });
    });
  }
  {
    auto a = std::make_shared<EditArgs>();
    auto* cmd =
        app.add_subcommand("add-method", "Add a method to a per-method server");
    cmd->add_option("SERVER", a->server, "Server name")
        ->required()
        ->check(nonEmpty("server name"));
    cmd->add_option("METHOD", a->key, "Method")->required();
    cmd->add_option("COMMAND", a->command, "Launch command")->required();
    cmd->callback([a] {
      withDaemon([&](DaemonClient& c, Orb&) {
        check("addMethod", c.addMethod(a->server, a->key, a->command));
      });
    });
  }
  {
    auto a = std::make_shared<EditArgs>();
    auto* cmd = app.add_subcommand("remove-method",
                                   "Remove a method from a per-method server");
    cmd->add_option("SERVER", a->server, "Server name")
        ->required()
        ->check(nonEmpty("server name"));
    cmd->add_option("METHOD", a->key, "Method")->required();
    cmd->callback([a] {
      withDaemon([&](DaemonClient& c, Orb&) {
        check("removeMethod", c.removeMethod(a->server, a->key));
      });
    });
  }
  {
    auto dir = std::make_shared<std::string>();
    auto* cmd = app.add_subcommand("mkdir", "Make a directory of records");
    cmd->add_option("DIR", *dir, "Directory")
        ->required()
        ->check(nonEmpty("directory name"));
    cmd->callback([dir] {
      withDaemon([&](DaemonClient& c, Orb&) {
        check("newDirectory", c.newDirectory(*dir));
      });
    });
  }
  {
    auto dir = std::make_shared<std::string>();
    auto recursive = std::make_shared<bool>(false);
    auto* cmd = app.add_subcommand("rmdir", "Remove a directory of records");
    cmd->add_option("DIR", *dir, "Directory")
        ->required()
        ->check(nonEmpty("directory name"));
    cmd->add_flag("-r,--recursive", *recursive,
                  "Delete what the directory holds too");
    cmd->callback([dir, recursive] {
      withDaemon([&](DaemonClient& c, Orb&) {
        check("deleteDirectory", c.deleteDirectory(*dir, *recursive));
      });
    });
  }
  {
    struct Args {
      std::string owner, name;
      bool dir = false;
    };
    auto a = std::make_shared<Args>();
    auto* cmd = app.add_subcommand(
        "chown", "Change the owner of a server (or directory with --dir)");
    cmd->add_option("OWNER", a->owner, "New owner")->required();
    cmd->add_option("NAME", a->name, "Server or directory")->required();
    cmd->add_flag("-d,--dir", a->dir, "NAME is a directory");
    cmd->callback([a] {
      withDaemon([&](DaemonClient& c, Orb&) {
        if (a->dir) {
          check("changeOwnerDir", c.changeOwnerDir(a->owner, a->name));
        } else {
          check("changeOwnerServer", c.changeOwnerServer(a->owner, a->name));
        }
      });
    });
  }
  addRightsCommand(app, true);
  addRightsCommand(app, false);
}

}  // namespace talvo::talvoctl
