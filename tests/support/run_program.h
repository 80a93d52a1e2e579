// Runs a built program to its end with an exact environment and collects
// its exit status, standard output and standard error.
//
// The child gets only the variables given (plus PATH of the test, unless
// given) and an empty standard input. A child still running at the
// deadline is killed, reaped and reported with status -1.
//
// Thread safety: one call per thread; nothing is shared between calls.

#ifndef TALVO_TESTS_SUPPORT_RUN_PROGRAM_H_
#define TALVO_TESTS_SUPPORT_RUN_PROGRAM_H_

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace talvo::testing {

struct ProgramResult {
  int status = -1;  // exit status; -1 when killed by a signal or the deadline
  std::string out;
  std::string err;
};

// The build tree (TALVO_TEST_BIN, set by CTest) joined with `relative`.
inline std::string builtProgram(const std::string& relative) {
  const char* root = std::getenv("TALVO_TEST_BIN");
  return std::string(root != nullptr ? root : ".") + "/" + relative;
}

namespace detail {

inline std::string readAll(int fd) {
  std::string text;
  ::lseek(fd, 0, SEEK_SET);
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, n);
  ::close(fd);
  return text;
}

}  // namespace detail

inline ProgramResult runProgram(
    const std::string& program, const std::vector<std::string>& args,
    std::map<std::string, std::string> env = {},
    std::chrono::milliseconds deadline = std::chrono::seconds(30)) {
  ProgramResult result;
  if (env.count("PATH") == 0) {
    const char* path = std::getenv("PATH");
    env["PATH"] = path != nullptr ? path : "/usr/bin:/bin";
  }
  std::vector<std::string> env_text;
  for (const auto& [name, value] : env) env_text.push_back(name + "=" + value);
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);

  int out = ::memfd_create("out", MFD_CLOEXEC);
  int err = ::memfd_create("err", MFD_CLOEXEC);
  pid_t pid = ::fork();
  if (pid == 0) {
    int in = ::open("/dev/null", O_RDONLY);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  pollfd ready{pidfd, POLLIN, 0};
  if (pidfd < 0 || ::poll(&ready, 1, static_cast<int>(deadline.count())) != 1) {
    ::kill(pid, SIGKILL);
  }
  if (pidfd >= 0) ::close(pidfd);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = detail::readAll(out);
  result.err = detail::readAll(err);
  return result;
}

}  // namespace talvo::testing

#endif  // TALVO_TESTS_SUPPORT_RUN_PROGRAM_H_
