// How talvoctl's daemon commands reach the daemon and report the outcome.
//
// The options --host and --port (global; accepted after the command too)
// say where the daemon runs; the default is QV_DAEMON_PORT of the
// configuration on the local host. A command tries to connect once, so that
// a daemon that is not there is reported at once, unless --retry N or
// QV_CONNECT_ATTEMPTS asks for more attempts (2 s apart). withDaemon()
// starts the run time, opens a client to the daemon and runs the command's
// body with it. A failure is printed to standard error in the user's words,
// naming the command (and, for a connection, the host and port tried),
// then the exception in its printed form with the catalogue's texts (with
// no catalogue: the minor code, or nothing after a connection failure); the
// command ends with exit status 1 (CLI::RuntimeError).
//
// Threading: one thread; the endpoint and command name are process-wide.

#ifndef TALVO_TOOLS_TALVOCTL_DAEMON_CONNECTION_H_
#define TALVO_TOOLS_TALVOCTL_DAEMON_CONNECTION_H_

#include <CLI/CLI.hpp>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "client/daemon_client.h"
#include "runtime/except/exception.h"
#include "runtime/orb/orb.h"

namespace talvo::talvoctl {

// Exit status of a command whose operation failed.
inline constexpr int kFailureExit = 1;

// Adds --host, --port, --retry and --verbose (the run time's trace lines,
// on standard error) to `app` (read by withDaemon()).
void addDaemonOptions(CLI::App& app);

// The command being run, for messages ("talvoctl show: ...").
void setCommandName(const std::string& name);
const std::string& commandName();

// A validator refusing an empty text: "the `what` is empty".
CLI::Validator nonEmpty(const std::string& what);

// The daemon reached: host and port as tried.
std::string daemonEndpointText();

// Runs `body` with a client of the daemon; the Orb is the client's.
void withDaemon(const std::function<void(client::DaemonClient&, Orb&)>& body);

// Returns when `st` is null; otherwise prints it as the failure of the
// command (`operation` names the daemon operation, shown only with -v) and
// throws CLI::RuntimeError(kFailureExit).
void check(std::string_view operation, Status st);
// Ends the command with status 1 after `message`, the exception's name and
// its printed form on standard error.
[[noreturn]] void failWithStatus(const std::string& message, Status st);
// Ends the command with status 1 after `message` on standard error.
[[noreturn]] void failWith(const std::string& message);

// Writes `rows` under `headers` in columns separated by two blanks.
void printTable(const std::vector<std::string>& headers,
                const std::vector<std::vector<std::string>>& rows);
// Writes `value` as indented JSON and a line end.
void printJson(const nlohmann::json& value);
// A port as the daemon sends it (decimal text) as a JSON number; null when
// it is not one.
nlohmann::json portJson(const std::string& port);

}  // namespace talvo::talvoctl

#endif  // TALVO_TOOLS_TALVOCTL_DAEMON_CONNECTION_H_
