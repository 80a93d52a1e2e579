// Processes: starting server programs, testing whether they still run,
// reaping them and ending them.
//
// A process is started from a command line split at blanks (no shell); the
// first word names the program, found on PATH. The child gets the calling
// process's environment with the given changes applied, only standard
// input, output and error as descriptors, an empty signal mask and default
// signal dispositions.
//
// Every child started here is remembered in a process-wide table. A child
// that has ended is reaped at the next call into this file (spawnProcess,
// isChildRunning, isProcessAlive, reapEndedChildren): its end is kept for
// the liveness test and no zombie stays behind longer than that. A program
// that learns of ended children as events (SIGCHLD through its event loop)
// calls reapEndedChildren() on each and setChildEndsSignalled(true): the
// liveness tests then answer from the table without a system call.
//
// Thread safety: every function may be called from any thread; the child
// table is guarded by a mutex.

#ifndef TALVO_PLATFORM_PROCESS_H_
#define TALVO_PLATFORM_PROCESS_H_

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace talvo::platform {

// One change to the child's environment: set `name` to `value`, or remove
// it when `value` is absent.
struct EnvChange {
  std::string name;
  std::optional<std::string> value;
};

// The outcome of spawnProcess: the child's process id, or 0 and the reason
// the start failed.
struct SpawnResult {
  pid_t pid = 0;
  std::error_code error;
  bool ok() const { return pid > 0; }
};

// A local account a child may be started as: its ids and every group it
// belongs to.
struct Account {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;
};

// The local account named `name` (the system's user database), or nullopt
// when there is none.
std::optional<Account> findAccount(const std::string& name);

// The words of `command`: separated by one or more blanks, leading and
// trailing blanks ignored.
std::vector<std::string> splitCommand(std::string_view command);

// Starts the program named by the first word of `command` (searched on
// PATH) with the remaining words as its arguments and this process's
// environment changed by `env` (later changes of a name win). Fails with
// ENOENT for an empty command. Never throws.
SpawnResult spawnProcess(std::string_view command,
                         const std::vector<EnvChange>& env);
// The same, the child running as `account` (its groups, group id and user
// id set in the child before the program starts; needs the privilege to
// change ids). A child that cannot take the account's ids never runs the
// program: the start fails with the reason.
SpawnResult spawnProcessAs(std::string_view command,
                           const std::vector<EnvChange>& env,
                           const Account& account);

// True while the child `pid` (started by spawnProcess) has not ended; the
// platform's "still running" answer. A child found ended is reaped. False
// for a process that is not a child of this process.
bool isChildRunning(pid_t pid);

// As isChildRunning(), but always asks the system (a launch's test that its
// child did not end at once).
bool checkChildRunning(pid_t pid);

// On: the caller reaps (reapEndedChildren) every time the system signals
// that a child ended, so a child in the table as running does run; the
// liveness tests above trust the table. Off (the default): every test asks
// the system.
void setChildEndsSignalled(bool on);

// How many times the system was asked about one child (waitpid), for the
// statistics and tests.
unsigned long childPolls();

// Liveness of any process: a child of ours is alive until it ends; any other
// process (for example one started by an earlier daemon) is alive when it
// exists and can be signalled or exists and belongs to another user. False
// for process ids 0 and below.
bool isProcessAlive(pid_t pid);

// True when `pid` was started by spawnProcess in this process, running or
// ended.
bool isOwnChild(pid_t pid);

// True when the process `pid` exists and the environment it was started
// with (/proc/<pid>/environ) holds every NAME=value of `expected`. False for
// a process whose environment cannot be read (another user's, or one that
// has ended and not been reaped). Tells a server taken over from an earlier
// daemon from an unrelated program that has been given the same process id.
bool processStartedWith(
    pid_t pid,
    const std::vector<std::pair<std::string, std::string>>& expected);

// The wait status of a child that has ended and been reaped, if known.
std::optional<int> childEndStatus(pid_t pid);

// The children of ours not yet known to have ended.
std::size_t runningChildCount();

// Reaps every child of ours that has ended, remembering its end. One
// system call when no child has ended, however many run; children that are
// not ours are never reaped here.
void reapEndedChildren();

// Sends SIGTERM to `pid`. False (and nothing sent) for process ids 0 and
// below, or when the signal cannot be delivered.
bool terminateProcess(pid_t pid);

// Sends SIGKILL to a child of ours and waits for its end; used by tests and
// tear-down. False when `pid` is not a running child.
bool killChildAndWait(pid_t pid);

}  // namespace talvo::platform

#endif  // TALVO_PLATFORM_PROCESS_H_
