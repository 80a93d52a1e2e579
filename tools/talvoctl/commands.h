// The command groups of talvoctl.
//
// Each group lives in its own file and adds its subcommands to the
// application; main() calls every add function below. A command reports
// success by returning normally (exit status 0); a command that fails
// throws CLI::RuntimeError with its exit status after writing its message
// to standard error. A bad command line ends with status 2 and the usage.

#ifndef TALVO_TOOLS_TALVOCTL_COMMANDS_H_
#define TALVO_TOOLS_TALVOCTL_COMMANDS_H_

#include <CLI/CLI.hpp>

namespace talvo::talvoctl {

// Exit status of a command line that does not parse.
inline constexpr int kUsageExit = 2;
// Exit status of `exists` when the record does not exist.
inline constexpr int kAbsentExit = 3;

// `config`: every configuration variable, its value and its source.
void addConfigCommands(CLI::App& app);
// `explain MINOR`: the printed form of a minor code from the catalogue.
void addExplainCommands(CLI::App& app);

// `completion bash` (hidden): the completion script, from the commands that
// `app` holds when it runs.
void addCompletionCommands(CLI::App& app);

// `status`: the daemon's host, process id, port and protocol (from its
// binding message) and the number of running servers it knows.
void addStatusCommand(CLI::App& app);

// The commands that call the daemon (daemon_connection.h says how):
// create-shared, create-unshared, create-per-method, list, show, delete,
// exists, legacy.
void addServerCommands(CLI::App& app);
// add-marker, remove-marker, add-method, remove-method, mkdir, rmdir,
// chown, grant, revoke.
void addEditCommands(CLI::App& app);
// bind, iiop, register, active, kill.
void addBindingCommands(CLI::App& app);
// ior [--server S --marker M --interface I]: an interoperable reference.
void addIorCommand(CLI::App& app);
// lookup, add-hosts, del-hosts, list-hosts, add-groups, del-groups,
// list-groups.
void addLocatorCommands(CLI::App& app);

}  // namespace talvo::talvoctl

#endif  // TALVO_TOOLS_TALVOCTL_COMMANDS_H_
