// Test helpers that run the built talvod: the program started with its own
// settings in a temporary folder, the port it chose, and a datagram socket
// standing in for the service manager's notify socket.
//
// Every process started here is killed and reaped by its destructor.

#ifndef TALVO_TESTS_DAEMON_TALVOD_PROCESS_H_
#define TALVO_TESTS_DAEMON_TALVOD_PROCESS_H_

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace talvo::testing {

inline std::string talvodPath() { return builtProgram("src/daemon/talvod"); }

// The TCP port that process `pid` listens on (IPv4), or 0 while it listens
// on none: its socket descriptors matched against the kernel's table of
// listening sockets. A daemon told to take port 0 is found this way.
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
  std::istringstream table(readFile(proc + "/net/tcp"));
  std::string line, skip, local, state, inode;
  std::getline(table, line);  // heading
  while (std::getline(table, line)) {
    std::istringstream in(line);
    in >> skip >> local >> skip >> state;
    for (int i = 0; i < 6; ++i) in >> inode;  // queues .. timeout, inode
    if (state == "0A" && inodes.count(inode) != 0) {
      return static_cast<std::uint16_t>(
          std::stoul(local.substr(local.find(':') + 1), nullptr, 16));
    }
  }
  return 0;
}

// The context switches of all threads of `pid` (how often it woke).
inline long contextSwitches(pid_t pid) {
  long total = 0;
  std::error_code ec;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  for (const auto& task : std::filesystem::directory_iterator(tasks, ec)) {
    std::istringstream status(readFile(task.path().string() + "/status"));
    for (std::string line; std::getline(status, line);) {
      if (line.find("ctxt_switches:") != std::string::npos) {
        total += std::atol(line.c_str() + line.find(':') + 1);
      }
    }
  }
  return total;
}

// A settings file holding the Daemon key with `body` as its lines.
inline std::string daemonRegistry(const std::string& body) {
  return "# test settings\n[SOFTWARE\\Brevan "
         "Technologies\\Talvo\\2.3c\\Daemon]\n" +
         body;
}

// talvod (or `program`) running with its output in files of `dir`, and
// the test's environment with QV_REGISTRY, QV_SERVICE_DIR and
// QV_IMP_REP_PATH pointing into `dir`, QV_DAEMON_PORT "0" (the system
// picks the port: see port()), NOTIFY_SOCKET removed, and `extra` applied
// (an empty value removes the variable). With `usr1_pending_at_start`,
// SIGUSR1 is blocked when the program starts, so that one sent at once
// waits for the program to take it.
class Talvod : public ChildProcess {
 public:
  Talvod(const TempDir& dir, std::vector<std::string> args,
         std::map<std::string, std::string> extra = {},
         bool usr1_pending_at_start = false,
         const std::string& program = talvodPath())
      : ChildProcess(program, options(dir, std::move(args), std::move(extra),
                                      usr1_pending_at_start)) {}

  // The port the daemon listens on, once it does (0 when it ended or did
  // not listen in time).
  std::uint16_t port() {
    std::uint16_t found = 0;
    eventually([&] {
      if (wait(std::chrono::milliseconds(0))) return true;
      return (found = listeningPort(pid())) != 0;
    });
    return found;
  }

 private:
  static ChildOptions options(const TempDir& dir, std::vector<std::string> args,
                              std::map<std::string, std::string> extra,
                              bool usr1_pending_at_start) {
    std::filesystem::create_directories(dir.file("imprep"));
    ChildOptions o;
    o.args = std::move(args);
    o.env = {{"NOTIFY_SOCKET", ""},
             {"QV_REGISTRY", dir.file("registry")},
             {"QV_SERVICE_DIR", dir.path()},
             {"QV_IMP_REP_PATH", dir.file("imprep")},
             {"QV_DAEMON_PORT", "0"}};
    for (auto& [name, value] : extra) o.env[name] = value;
    o.output_dir = dir.path();
    if (usr1_pending_at_start) o.blocked_signals = {SIGUSR1};
    return o;
  }
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
  bool waitFor(const std::string& text) {
    return eventually([&] {
      for (const auto& m : received_) {
        if (m == text) return true;
      }
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 0) == 1) {
        std::string buffer(4096, '\0');
        ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
        if (n > 0) received_.push_back(buffer.substr(0, n));
      }
      return false;
    });
  }
  const std::vector<std::string>& received() const { return received_; }

 private:
  std::string path_;
  int fd_ = -1;
  std::vector<std::string> received_;
};

}  // namespace talvo::testing

#endif  // TALVO_TESTS_DAEMON_TALVOD_PROCESS_H_
