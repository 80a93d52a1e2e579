// Processes for the checkpoint tests: servers started the way an earlier
// daemon would have started them (with their launch variables), and a set
// of process ids that are killed and reaped when the set goes.

#ifndef TALVO_TESTS_CHECKPOINT_CHECKPOINT_SUPPORT_H_
#define TALVO_TESTS_CHECKPOINT_CHECKPOINT_SUPPORT_H_

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"

extern char** environ;

namespace talvo::testing {

// Starts `argv` with NAME=value texts `env` added to this environment. Not
// through the platform layer: the process is nobody's launch record.
inline pid_t startProcess(std::vector<std::string> argv,
                          const std::vector<std::string>& env = {}) {
  std::vector<std::string> texts = env;
  for (char** e = environ; *e != nullptr; ++e) texts.emplace_back(*e);
  std::vector<char*> envp, args;
  for (auto& t : texts) envp.push_back(t.data());
  for (auto& a : argv) args.push_back(a.data());
  envp.push_back(nullptr);
  args.push_back(nullptr);
  pid_t pid = -1;
  if (::posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(),
                     envp.data()) != 0) {
    return -1;
  }
  return pid;
}

// A stand-in server of `server` on `port`, as a daemon would have launched
// it. Returns once the program runs with its environment (for a moment
// after the start the system still shows none).
inline pid_t startServer(const std::string& server, const std::string& port) {
  pid_t pid = startProcess(
      {"sleep", "60"}, {"QV_SERVER_NAME=" + server, "QV_SERVER_PORT=" + port});
  const std::string environ_file = "/proc/" + std::to_string(pid) + "/environ";
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (pid > 0 && std::chrono::steady_clock::now() < end) {
    std::ifstream in(environ_file);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    if (text.find("QV_SERVER_NAME=") != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return pid;
}

// Reaps every ended child without waiting.
inline void reapEnded() {
  int status = 0;
  while (::waitpid(-1, &status, WNOHANG) > 0) {
  }
}

// True once `pid` (a child of this process) has ended, within `timeout`.
inline bool waitEnded(
    pid_t pid, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
  auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    int status = 0;
    pid_t got = ::waitpid(pid, &status, WNOHANG);
    if (got == pid || (got < 0 && errno == ECHILD)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

// Ends and reaps every child of this process when it goes: the servers of
// a killed daemon are adopted (as a subreaper) without anyone being told.
struct EndChildren {
  ~EndChildren() { endChildProcesses(); }
};

// Process ids to end with the test, also when it fails. Only those that
// are still unreaped children of this process are signalled: any other id
// may belong to somebody else by now.
class ProcessSet {
 public:
  ~ProcessSet() {
    for (pid_t pid : pids_) {
      int status = 0;
      if (pid <= 0 || ::waitpid(pid, &status, WNOHANG) != 0) continue;
      ::kill(pid, SIGKILL);
      waitEnded(pid);
    }
  }
  pid_t add(pid_t pid) {
    pids_.insert(pid);
    return pid;
  }

 private:
  std::set<pid_t> pids_;
};

}  // namespace talvo::testing

#endif  // TALVO_TESTS_CHECKPOINT_CHECKPOINT_SUPPORT_H_
