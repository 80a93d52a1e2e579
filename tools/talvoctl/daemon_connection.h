// How talvoctl's daemon commands reach the daemon and report the outcome.
//
// The options --host and --port (global; accepted after the command too)
// say where the daemon runs; the default is QV_DAEMON_PORT of the
// configuration on the local host. withDaemon() starts the run time, opens
// a client to the daemon and runs the command's body with it. A failed
// operation is printed to standard error (the exception's name, then its
// printed form with the catalogue's texts) and ends the command with exit
// status 1 (CLI::RuntimeError).

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

// Adds --host, --port and --verbose (the run time's trace lines, on
// standard error) to `app` (read by withDaemon()).
void addDaemonOptions(CLI::App& app);

// Runs `body` with a client of the daemon; the Orb is the client's.
void withDaemon(const std::function<void(client::DaemonClient&, Orb&)>& body);

// Returns when `st` is null; otherwise prints it as the failure of
// `operation` and throws CLI::RuntimeError(kFailureExit).
void check(std::string_view operation, Status st);
// Ends the command with status 1 after `message` on standard error.
[[noreturn]] void failWith(const std::string& message);

// Writes `rows` under `headers` in columns separated by two blanks.
void printTable(const std::vector<std::string>& headers,
                const std::vector<std::vector<std::string>>& rows);
// Writes `value` as indented JSON and a line end.
void printJson(const nlohmann::json& value);

}  // namespace talvo::talvoctl

#endif  // TALVO_TOOLS_TALVOCTL_DAEMON_CONNECTION_H_
