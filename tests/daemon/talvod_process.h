// Test helpers that run the built talvod: a temporary folder, the program
// started with its own environment and its output in files, and a datagram
// socket standing in for the service manager's notify socket.
//
// Every process started here is killed and reaped by its destructor.

#ifndef TALVO_TESTS_DAEMON_TALVOD_PROCESS_H_
#define TALVO_TESTS_DAEMON_TALVOD_PROCESS_H_

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace talvo::testing {

// True as soon as `condition()` holds; false when `timeout` passed first.
template <class Condition>
bool eventually(Condition condition,
                std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

class TempDir {
 public:
  TempDir() {
    // A death test's child re-runs the test in a fresh process and ends
    // without destructors; it works in the folder of the test that started
    // it (named in kChildDirVariable), which that test removes.
    if (const char* parent = std::getenv(kChildDirVariable);
        parent != nullptr && *parent != '\0') {
      path_ = parent;
      owned_ = false;
      return;
    }
    std::string pattern =
        (std::filesystem::temp_directory_path() / "talvod-test-XXXXXX")
            .string();
    path_ = ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
  }
  ~TempDir() {
    std::error_code ignored;
    if (owned_ && !path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  // Set to a folder's path while a death test runs (see above).
  static constexpr const char* kChildDirVariable = "TALVO_TEST_CHILD_DIR";
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
  bool owned_ = true;
};

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// $TALVO_TEST_BIN/src/daemon/talvod; without the variable, the build root
// is found from this test program's place in it (tests/<folder>/<test>).
inline std::string talvodPath() {
  const char* bin = std::getenv("TALVO_TEST_BIN");
  std::filesystem::path root;
  if (bin != nullptr && *bin != '\0') {
    root = bin;
  } else {
    std::error_code ignored;
    root =
        std::filesystem::read_symlink("/proc/self/exe", ignored).parent_path();
    while (!root.empty() && root.filename() != "tests" &&
           root != root.root_path()) {
      root = root.parent_path();
    }
    root = root.parent_path();
  }
  return (root / "src/daemon/talvod").string();
}

// The TCP port that process `pid` listens on (IPv4), or 0 while it listens
// on none: its socket descriptors matched against the kernel's table of
// listening sockets. A daemon told to take port 0 is found this way, so no
// test has to guess a free port.
inline std::uint16_t listeningPort(pid_t pid) {
  const std::string proc = "/proc/" + std::to_string(pid);
  std::set<std::string> inodes;
  std::error_code ec;
  for (const auto& fd : std::filesystem::directory_iterator(proc + "/fd", ec)) {
    std::string link = std::filesystem::read_symlink(fd.path(), ec).string();
    if (link.rfind("socket:[", 0) == 0) {
      inodes.insert(link.substr(8, link.size() - 9));
    }
  }
  std::ifstream table(proc + "/net/tcp");
  std::string line;
  std::getline(table, line);  // heading
  while (std::getline(table, line)) {
    std::istringstream in(line);
    std::string slot, local, remote, state, queues, timer, retr, uid, tmo,
        inode;
    in >> slot >> local >> remote >> state >> queues >> timer >> retr >> uid >>
        tmo >> inode;
    if (state == "0A" && inodes.count(inode) != 0) {
      return static_cast<std::uint16_t>(
          std::stoul(local.substr(local.find(':') + 1), nullptr, 16));
    }
  }
  return 0;
}

// A settings file holding the Daemon key with `body` as its lines.
inline std::string daemonRegistry(const std::string& body) {
  return "# test settings\n[SOFTWARE\\Brevan "
         "Technologies\\Talvo\\2.3c\\Daemon]\n" +
         body;
}

// talvod running with its standard output and error in files of `dir`.
// The environment is the test's own with QV_REGISTRY, QV_SERVICE_DIR and
// QV_IMP_REP_PATH pointing into `dir`, QV_DAEMON_PORT "0" (the system
// picks the port: see port()), NOTIFY_SOCKET removed, and `extra` applied
// (an empty value removes the variable). `program` is talvod unless given.
class Talvod {
 public:
  // With `usr1_pending_at_start`, SIGUSR1 is blocked when the program
  // starts, so that one sent at once waits for the program to take it.
  Talvod(const TempDir& dir, std::vector<std::string> args,
         std::map<std::string, std::string> extra = {},
         bool usr1_pending_at_start = false,
         const std::string& program = talvodPath())
      : out_(dir.file("stdout")), err_(dir.file("stderr")) {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      std::string entry(*e);
      size_t eq = entry.find('=');
      if (eq != std::string::npos)
        env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    env.erase("NOTIFY_SOCKET");
    env["QV_REGISTRY"] = dir.file("registry");
    env["QV_SERVICE_DIR"] = dir.path();
    env["QV_IMP_REP_PATH"] = dir.file("imprep");
    std::filesystem::create_directories(dir.file("imprep"));
    env["QV_DAEMON_PORT"] = "0";
    for (auto& [name, value] : extra) {
      if (value.empty()) {
        env.erase(name);
      } else {
        env[name] = value;
      }
    }
    std::vector<std::string> env_text;
    for (auto& [name, value] : env) env_text.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);

    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t mask;
    sigemptyset(&mask);
    if (usr1_pending_at_start) sigaddset(&mask, SIGUSR1);
    posix_spawnattr_setsigmask(&attr, &mask);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    if (::posix_spawn(&pid_, argv[0], &actions, &attr, argv.data(),
                      envp.data()) != 0) {
      pid_ = -1;
    }
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
  }

  ~Talvod() {
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // Only ever to the process started here: a failed start must not turn
  // into kill(-1) or waitpid(-1).
  void signal(int sig) {
    if (pid_ > 0 && !status_) ::kill(pid_, sig);
  }

  // The wait status once the process ended within `timeout`, else nullopt.
  std::optional<int> wait(
      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    if (status_ || pid_ <= 0) return status_;
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

  // The exit code, or -1 when it did not exit normally in time.
  int exitCode(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    auto status = wait(timeout);
    if (!status || !WIFEXITED(*status)) return -1;
    return WEXITSTATUS(*status);
  }

  // The port the daemon listens on, once it does (0 when it ended or did
  // not listen within `timeout`).
  std::uint16_t port(
      std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
    std::uint16_t found = 0;
    eventually(
        [&] {
          if (pid_ <= 0 || wait(std::chrono::milliseconds(0))) return true;
          return (found = listeningPort(pid_)) != 0;
        },
        timeout);
    return found;
  }

  std::string out() const { return readFile(out_); }
  std::string err() const { return readFile(err_); }

  // Waits until the standard error holds `text`.
  bool waitForErr(const std::string& text) {
    return eventually([&] { return err().find(text) != std::string::npos; });
  }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
  std::string out_;
  std::string err_;
};

// A datagram socket bound in `dir`, standing in for the service manager.
class NotifySocket {
 public:
  explicit NotifySocket(const TempDir& dir) : path_(dir.file("notify.sock")) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    path_.copy(addr.sun_path, sizeof addr.sun_path - 1);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  }
  ~NotifySocket() { ::close(fd_); }
  const std::string& path() const { return path_; }

  // Receives messages until one equals `text` (true) or time runs out.
  // Every message received is kept in received().
  bool waitFor(const std::string& text,
               std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    for (const auto& m : received_) {
      if (m == text) return true;
    }
    auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      std::string buffer(4096, '\0');
      ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
      if (n <= 0) continue;
      buffer.resize(static_cast<size_t>(n));
      received_.push_back(buffer);
      if (buffer == text) return true;
    }
  }
  const std::vector<std::string>& received() const { return received_; }

 private:
  std::string path_;
  int fd_ = -1;
  std::vector<std::string> received_;
};

}  // namespace talvo::testing

#endif  // TALVO_TESTS_DAEMON_TALVOD_PROCESS_H_
