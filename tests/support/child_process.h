// Running a built program as a child process of the test: its environment
// and arguments of the test's choosing, its standard output and error in
// files, waiting for it with a deadline, and reaping it. Every process
// started here is ended and reaped by the destructor, so no test leaves one
// behind.
//
// Threading: a ChildProcess belongs to the thread that made it.

#ifndef TALVO_TESTS_SUPPORT_CHILD_PROCESS_H_
#define TALVO_TESTS_SUPPORT_CHILD_PROCESS_H_

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/wait.h"

namespace talvo::testing {

// The built program at `relative` below the build folder (e.g.
// "src/daemon/talvod"): $TALVO_TEST_BIN, or found from this test
// program's own place in the build folder (tests/...).
std::string builtProgram(const std::string& relative);

struct ChildOptions {
  std::vector<std::string> args = {};
  // Applied over the test's own environment (or over PATH alone when
  // `inherit_env` is false); an empty value removes the variable.
  std::map<std::string, std::string> env = {};
  bool inherit_env = true;
  // Where the standard output and error files go ("stdout", "stderr" and a
  // number when several children share the folder); empty: /dev/null.
  std::string output_dir = {};
  // Signals blocked in the child when it starts.
  std::vector<int> blocked_signals = {};
  // The signal the destructor ends a still running child with. Any other
  // signal than SIGKILL is followed by SIGKILL when the child has not
  // ended within five seconds.
  int end_signal = SIGKILL;
};

class ChildProcess {
 public:
  ChildProcess(const std::string& program, ChildOptions options);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // Sends `signal_number` while the child is not reaped (never to another
  // process: a failed start does not turn into kill(-1)).
  void signal(int signal_number);
  // The wait status once the child ended within `timeout`, else nullopt.
  std::optional<int> wait(std::chrono::milliseconds timeout = kPatience);
  // The exit code, or -1 when it did not exit normally within `timeout`.
  int exitCode(std::chrono::milliseconds timeout = kPatience);
  // signal() then wait().
  std::optional<int> stop(int signal_number,
                          std::chrono::milliseconds timeout = kPatience);

  std::string output() const;
  std::string errors() const;
  // Waits until standard output (or error) holds `text`; false when the
  // child ended or the time ran out first.
  bool waitForOutput(const std::string& text,
                     std::chrono::milliseconds timeout = kPatience);
  bool waitForErrors(const std::string& text,
                     std::chrono::milliseconds timeout = kPatience);

 private:
  bool waitForText(bool errors, const std::string& text,
                   std::chrono::milliseconds timeout);

  pid_t pid_ = -1;
  std::optional<int> status_;
  std::string out_path_;
  std::string err_path_;
  int end_signal_;
};

// What a program run to its end gave: the exit code (-1 when it did not
// exit normally in time), standard output and error.
struct RunResult {
  int status = -1;
  std::string out, err;
};
// Runs `program` with `options` until it ends (at most `timeout`); the
// output goes to a temporary folder unless `options` names one.
RunResult runToEnd(const std::string& program, ChildOptions options,
                   std::chrono::milliseconds timeout = kPatience);

// The ids of this process's children, zombies included.
std::vector<pid_t> childProcesses();
// The children of `parent` (of all its threads), zombies included.
std::vector<pid_t> childrenOf(pid_t parent);
// Kills every child of this process and reaps it; returns how many.
int endChildProcesses();
// True when no process (not even a zombie) with this id exists.
bool processGone(pid_t pid);

}  // namespace talvo::testing

#endif  // TALVO_TESTS_SUPPORT_CHILD_PROCESS_H_
