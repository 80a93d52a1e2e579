#include "platform/process.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

extern char** environ;

namespace talvo::platform {
namespace {

// How many ended children are remembered; older ends are forgotten first.
constexpr std::size_t kEndedCapacity = 4096;

// Whether some child of this process (ours or not) has ended and waits to
// be reaped. It is only looked at, not reaped: one system call tells
// whether the per-child tests are needed at all, so a pass over many
// running servers costs one call instead of one per server.
bool anyChildEnded() {
  siginfo_t info{};
  if (::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
    return errno != ECHILD;  // an interrupted or failed look: test each
  }
  return info.si_pid != 0;
}

// Children started by spawnProcess: those not yet reaped, and the wait
// status of those that ended.
class ChildTable {
 public:
  void add(pid_t pid) {
    std::lock_guard<std::mutex> lock(mutex_);
    ended_.erase(pid);  // a reused process id starts afresh
    running_.insert(pid);
  }

  // Tests a child without blocking; reaps it when it has ended. Returns
  // true while it runs. Must be called with the lock held.
  bool pollLocked(pid_t pid) {
    ++polls_;
    int status = 0;
    pid_t got = ::waitpid(pid, &status, WNOHANG);
    if (got == 0) return true;
    if (got == -1 && errno == EINTR) return true;  // unknown yet: assume alive
    // Not waitable (ECHILD: SIGCHLD ignored, or reaped elsewhere): fall back
    // to asking whether the process still exists.
    if (got == -1 && errno == ECHILD && ::kill(pid, 0) == 0) return true;
    running_.erase(pid);
    remember(pid, got == pid ? status : 0);
    return false;
  }

  std::size_t runningCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_.size();
  }

  // With `trust`, and while ends are signalled, the table's answer stands
  // without asking the system.
  std::optional<bool> isRunning(pid_t pid, bool trust) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_.count(pid)) {
      return (trust && signalled_) ? true : pollLocked(pid);
    }
    if (ended_.count(pid)) return false;
    return std::nullopt;  // not one of ours
  }

  void reapAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_.empty() || !anyChildEnded()) return;
    std::vector<pid_t> pids(running_.begin(), running_.end());
    for (pid_t pid : pids) pollLocked(pid);
  }

  void setSignalled(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = on;
  }

  unsigned long polls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return polls_;
  }

  std::optional<int> endStatus(pid_t pid) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_.count(pid) && !signalled_) pollLocked(pid);
    auto it = ended_.find(pid);
    if (it == ended_.end()) return std::nullopt;
    return it->second;
  }

  bool killAndWait(pid_t pid) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_.count(pid) || !pollLocked(pid)) return false;
    ::kill(pid, SIGKILL);
    int status = 0;
    pid_t got;
    do {
      got = ::waitpid(pid, &status, 0);
    } while (got == -1 && errno == EINTR);
    running_.erase(pid);
    remember(pid, got == pid ? status : 0);
    return true;
  }

 private:
  void remember(pid_t pid, int status) {
    if (ended_.emplace(pid, status).second) order_.push_back(pid);
    while (order_.size() > kEndedCapacity) {
      ended_.erase(order_.front());
      order_.pop_front();
    }
  }

  std::mutex mutex_;
  bool signalled_ = false;
  unsigned long polls_ = 0;  // waitpid calls for one child
  std::unordered_set<pid_t> running_;
  std::unordered_map<pid_t, int> ended_;
  std::deque<pid_t> order_;
};

ChildTable& children() {
  static ChildTable* table = new ChildTable;  // lives to the process's end
  return *table;
}

std::string_view entryName(const char* entry) {
  std::string_view text(entry);
  return text.substr(0, text.find('='));
}

// This process's environment with `changes` applied, as NAME=value texts.
std::vector<std::string> childEnvironment(
    const std::vector<EnvChange>& changes) {
  std::vector<std::string> result;
  for (char** entry = environ; entry && *entry; ++entry) {
    std::string_view name = entryName(*entry);
    bool changed = false;
    for (const EnvChange& change : changes) {
      if (change.name == name) {
        changed = true;
        break;
      }
    }
    if (!changed) result.emplace_back(*entry);
  }
  for (std::size_t i = 0; i < changes.size(); ++i) {
    const EnvChange& change = changes[i];
    bool overridden = false;  // a later change of the same name wins
    for (std::size_t j = i + 1; j < changes.size(); ++j) {
      if (changes[j].name == change.name) overridden = true;
    }
    if (!overridden && change.value) {
      result.push_back(change.name + "=" + *change.value);
    }
  }
  return result;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> result;
  result.reserve(texts.size() + 1);
  for (std::string& text : texts) result.push_back(text.data());
  result.push_back(nullptr);
  return result;
}

}  // namespace

std::vector<std::string> splitCommand(std::string_view command) {
  std::vector<std::string> words;
  std::size_t pos = 0;
  while (pos < command.size()) {
    while (pos < command.size() && command[pos] == ' ') ++pos;
    std::size_t end = pos;
    while (end < command.size() && command[end] != ' ') ++end;
    if (end > pos) words.emplace_back(command.substr(pos, end - pos));
    pos = end;
  }
  return words;
}

SpawnResult spawnProcess(std::string_view command,
                         const std::vector<EnvChange>& env) {
  children().reapAll();
  std::vector<std::string> words = splitCommand(command);
  if (words.empty()) {
    return {0, std::make_error_code(std::errc::no_such_file_or_directory)};
  }
  std::vector<std::string> envTexts = childEnvironment(env);
  std::vector<char*> argv = pointers(words);
  std::vector<char*> envp = pointers(envTexts);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  // Only standard input, output and error reach the child, whatever
  // descriptor may have missed its close-on-exec flag.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  // The daemon blocks and ignores signals of its own (SIGPIPE, the service
  // controls); a server starts with the defaults.
  sigset_t none;
  sigemptyset(&none);
  sigset_t all;
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = 0;
  int error =
      ::posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), envp.data());
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return {0, std::error_code(error, std::generic_category())};
  children().add(pid);
  return {pid, {}};
}

std::optional<Account> findAccount(const std::string& name) {
  if (name.empty()) return std::nullopt;
  std::vector<char> buf(16384);
  struct passwd pw;
  struct passwd* found = nullptr;
  for (;;) {
    int rc = ::getpwnam_r(name.c_str(), &pw, buf.data(), buf.size(), &found);
    if (rc == ERANGE && buf.size() < (1u << 20)) {
      buf.resize(buf.size() * 2);
      continue;
    }
    break;
  }
  if (found == nullptr) return std::nullopt;
  Account account{found->pw_name, found->pw_uid, found->pw_gid, {}};
  int count = 32;
  for (;;) {
    account.groups.resize(static_cast<std::size_t>(count));
    int asked = count;
    if (::getgrouplist(found->pw_name, found->pw_gid, account.groups.data(),
                       &count) >= 0) {
      account.groups.resize(static_cast<std::size_t>(count));
      break;
    }
    if (count <= asked) count = asked * 2;  // grow even if not told how far
    if (count > 65536) return std::nullopt;
  }
  return account;
}

SpawnResult spawnProcessAs(std::string_view command,
                           const std::vector<EnvChange>& env,
                           const Account& account) {
  children().reapAll();
  std::vector<std::string> words = splitCommand(command);
  if (words.empty()) {
    return {0, std::make_error_code(std::errc::no_such_file_or_directory)};
  }
  std::vector<std::string> envTexts = childEnvironment(env);
  std::vector<char*> argv = pointers(words);
  std::vector<char*> envp = pointers(envTexts);
  // The child reports why it could not start through this pipe; a
  // successful exec closes it empty.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    return {0, std::error_code(errno, std::generic_category())};
  }
  sigset_t all, old;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &old);
  pid_t pid = ::fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here on: raw system calls, so
    // that the ids change for this one thread without the C library's
    // broadcast to threads that do not exist here.
    ::close(report[0]);
    ::close_range(3, ~0u, CLOSE_RANGE_CLOEXEC);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &dfl, nullptr);
    int error = 0;
    if (::syscall(SYS_setgroups, account.groups.size(),
                  account.groups.data()) != 0 ||
        ::syscall(SYS_setresgid, account.gid, account.gid, account.gid) != 0 ||
        ::syscall(SYS_setresuid, account.uid, account.uid, account.uid) != 0) {
      error = errno;
    } else {
      sigset_t none;
      sigemptyset(&none);
      ::sigprocmask(SIG_SETMASK, &none, nullptr);
      ::execvpe(argv[0], argv.data(), envp.data());
      error = errno;
    }
    ssize_t ignored = ::write(report[1], &error, sizeof error);
    (void)ignored;
    ::_exit(127);
  }
  int forkError = errno;
  ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
  ::close(report[1]);
  if (pid < 0) {
    ::close(report[0]);
    return {0, std::error_code(forkError, std::generic_category())};
  }
  int childError = 0;
  ssize_t n;
  do {
    n = ::read(report[0], &childError, sizeof childError);
  } while (n < 0 && errno == EINTR);
  ::close(report[0]);
  if (n == static_cast<ssize_t>(sizeof childError)) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return {0, std::error_code(childError, std::generic_category())};
  }
  children().add(pid);
  return {pid, {}};
}

bool isChildRunning(pid_t pid) {
  if (pid <= 0) return false;
  return children().isRunning(pid, true).value_or(false);
}

bool checkChildRunning(pid_t pid) {
  if (pid <= 0) return false;
  return children().isRunning(pid, false).value_or(false);
}

bool isProcessAlive(pid_t pid) {
  if (pid <= 0) return false;
  if (std::optional<bool> ours = children().isRunning(pid, true)) return *ours;
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

bool isOwnChild(pid_t pid) {
  return pid > 0 && children().isRunning(pid, true).has_value();
}

void setChildEndsSignalled(bool on) { children().setSignalled(on); }

unsigned long childPolls() { return children().polls(); }

bool processStartedWith(
    pid_t pid,
    const std::vector<std::pair<std::string, std::string>>& expected) {
  if (pid <= 0) return false;
  // The environment block of a process is small; a bound keeps a strange
  // one from costing much.
  constexpr std::size_t kLimit = 1 << 20;
  int fd = ::open(("/proc/" + std::to_string(pid) + "/environ").c_str(),
                  O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string block;
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || block.size() + static_cast<std::size_t>(n) > kLimit) break;
    block.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  for (const auto& [name, value] : expected) {
    const std::string entry = name + "=" + value;
    bool found = false;
    for (std::size_t pos = 0; pos < block.size() && !found;) {
      std::size_t end = block.find('\0', pos);
      if (end == std::string::npos) end = block.size();
      found = std::string_view(block).substr(pos, end - pos) == entry;
      pos = end + 1;
    }
    if (!found) return false;
  }
  return true;
}

std::optional<int> childEndStatus(pid_t pid) {
  return children().endStatus(pid);
}

void reapEndedChildren() { children().reapAll(); }

std::size_t runningChildCount() { return children().runningCount(); }

bool terminateProcess(pid_t pid) {
  if (pid <= 0) return false;  // 0 and negatives would reach process groups
  return ::kill(pid, SIGTERM) == 0;
}

bool killChildAndWait(pid_t pid) {
  if (pid <= 0) return false;
  return children().killAndWait(pid);
}

}  // namespace talvo::platform
