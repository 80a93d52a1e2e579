// Processes for the checkpoint tests: stand-in servers started the way an
// earlier daemon would have started them, and the end of every child.

#ifndef TALVO_TESTS_CHECKPOINT_CHECKPOINT_SUPPORT_H_
#define TALVO_TESTS_CHECKPOINT_CHECKPOINT_SUPPORT_H_

#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"

extern char** environ;

namespace talvo::testing {

// Starts `argv` (on PATH) with `env` (NAME=value) added to this
// environment, past the platform layer: nobody's launch record. With
// `server`, returns once the program shows its environment (for a moment
// after the start the system shows none).
inline pid_t startProcess(std::vector<std::string> argv,
                          std::vector<std::string> env = {}) {
  const bool server = !env.empty();
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  std::vector<char*> envp, args;
  for (auto& t : env) envp.push_back(t.data());
  for (auto& a : argv) args.push_back(a.data());
  envp.push_back(nullptr);
  args.push_back(nullptr);
  pid_t pid = -1;
  if (::posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(),
                     envp.data()) != 0) {
    return -1;
  }
  const std::string environ_file = "/proc/" + std::to_string(pid) + "/environ";
  eventually([&] { return !server || !readFile(environ_file).empty(); });
  return pid;
}

// A stand-in server of `server` on `port`, as a daemon launches it.
inline pid_t startServer(const std::string& server, const std::string& port) {
  return startProcess({"sleep", "60"},
                      {"QV_SERVER_NAME=" + server, "QV_SERVER_PORT=" + port});
}

// True once the child `pid` has ended and been reaped.
inline bool waitEnded(pid_t pid) {
  return eventually([pid] {
    int status = 0;
    pid_t got = ::waitpid(pid, &status, WNOHANG);
    return got == pid || got < 0;
  });
}

// Ends and reaps every child of this process when it goes: the servers of
// a killed daemon are adopted (as a subreaper) without anyone being told.
struct EndChildren {
  ~EndChildren() { endChildProcesses(); }
};

}  // namespace talvo::testing

#endif  // TALVO_TESTS_CHECKPOINT_CHECKPOINT_SUPPORT_H_
