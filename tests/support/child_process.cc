#include "support/child_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/temp_dir.h"

extern char** environ;

namespace talvo::testing {

std::string builtProgram(const std::string& relative) {
  namespace fs = std::filesystem;
  fs::path root;
  if (const char* bin = std::getenv("TALVO_TEST_BIN"); bin && *bin) {
    root = bin;
  } else {
    std::error_code ignored;
    root = fs::read_symlink("/proc/self/exe", ignored).parent_path();
    while (!root.empty() && root.filename() != "tests" &&
           root != root.root_path()) {
      root = root.parent_path();
    }
    root = root.parent_path();
  }
  return (root / relative).string();
}

ChildProcess::ChildProcess(const std::string& program, ChildOptions options)
    : end_signal_(options.end_signal) {
  std::map<std::string, std::string> env;
  if (options.inherit_env) {
    for (char** e = environ; *e != nullptr; ++e) {
      std::string entry(*e);
      size_t eq = entry.find('=');
      if (eq != std::string::npos)
        env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
  } else if (const char* path = std::getenv("PATH")) {
    env["PATH"] = path;
  }
  for (const auto& [name, value] : options.env) {
    if (value.empty()) {
      env.erase(name);
    } else {
      env[name] = value;
    }
  }
  std::vector<std::string> env_text;
  for (const auto& [name, value] : env) env_text.push_back(name + "=" + value);
  std::vector<std::string> arg_text{program};
  arg_text.insert(arg_text.end(), options.args.begin(), options.args.end());
  std::vector<char*> argv, envp;
  for (auto& a : arg_text) argv.push_back(a.data());
  for (auto& e : env_text) envp.push_back(e.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);

  if (options.output_dir.empty()) {
    out_path_ = err_path_ = "/dev/null";
  } else {
    static std::atomic<int> count{0};
    int n = count++;
    std::string suffix = n == 0 ? "" : "." + std::to_string(n);
    out_path_ = options.output_dir + "/stdout" + suffix;
    err_path_ = options.output_dir + "/stderr" + suffix;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_path_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_path_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t mask;
  sigemptyset(&mask);
  for (int s : options.blocked_signals) sigaddset(&mask, s);
  posix_spawnattr_setsigmask(&attr, &mask);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
  if (::posix_spawn(&pid_, argv[0], &actions, &attr, argv.data(),
                    envp.data()) != 0) {
    pid_ = -1;
    ADD_FAILURE() << "cannot start " << program;
  }
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
  if (pid_ <= 0 || status_) return;
  if (end_signal_ != SIGKILL && stop(end_signal_, std::chrono::seconds(5))) {
    return;
  }
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
}

void ChildProcess::signal(int signal_number) {
  if (pid_ > 0 && !status_) ::kill(pid_, signal_number);
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
  if (pid_ <= 0 || status_) return status_;
  eventually(
      [&] {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
        status_ = status;
        return true;
      },
      timeout);
  return status_;
}

int ChildProcess::exitCode(std::chrono::milliseconds timeout) {
  auto status = wait(timeout);
  if (!status || !WIFEXITED(*status)) return -1;
  return WEXITSTATUS(*status);
}

std::optional<int> ChildProcess::stop(int signal_number,
                                      std::chrono::milliseconds timeout) {
  signal(signal_number);
  return wait(timeout);
}

std::string ChildProcess::output() const { return readFile(out_path_); }
std::string ChildProcess::errors() const { return readFile(err_path_); }

bool ChildProcess::waitForOutput(const std::string& text,
                                 std::chrono::milliseconds timeout) {
  return waitForText(false, text, timeout);
}

bool ChildProcess::waitForErrors(const std::string& text,
                                 std::chrono::milliseconds timeout) {
  return waitForText(true, text, timeout);
}

bool ChildProcess::waitForText(bool errors, const std::string& text,
                               std::chrono::milliseconds timeout) {
  auto holds = [&] {
    return (errors ? this->errors() : output()).find(text) != std::string::npos;
  };
  eventually(
      [&] { return holds() || wait(std::chrono::milliseconds(0)).has_value(); },
      timeout);
  return holds();
}

RunResult runToEnd(const std::string& program, ChildOptions options,
                   std::chrono::milliseconds timeout) {
  TempDir dir;
  if (options.output_dir.empty()) options.output_dir = dir.path();
  ChildProcess child(program, std::move(options));
  const int status = child.exitCode(timeout);
  return {status, child.output(), child.errors()};
}

std::vector<pid_t> childProcesses() { return childrenOf(::getpid()); }

std::vector<pid_t> childrenOf(pid_t parent) {
  std::vector<pid_t> out;
  std::error_code ec;
  const std::string tasks = "/proc/" + std::to_string(parent) + "/task";
  for (const auto& task : std::filesystem::directory_iterator(tasks, ec)) {
    std::ifstream children(task.path() / "children");
    for (pid_t child; children >> child;) out.push_back(child);
  }
  return out;
}

int endChildProcesses() {
  int n = 0;
  for (pid_t pid : childProcesses()) {
    ::kill(pid, SIGKILL);
    int status = 0;
    if (::waitpid(pid, &status, 0) == pid) ++n;
  }
  return n;
}

bool processGone(pid_t pid) {
  return !std::filesystem::exists("/proc/" + std::to_string(pid));
}

}  // namespace talvo::testing
