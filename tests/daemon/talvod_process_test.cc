// The talvod program run as a process: under a simulated service manager,
// in the foreground, from a console, and ended by signals.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <sstream>

#include "support/talvod.h"

namespace talvo::testing {
namespace {

constexpr char kClosedownLine[] =
    "[talvod: \n<Closedown Handler, Tidying up after signal: ";

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

// ---- Round trips -------------------------------------------------------

TEST(TalvodServiceManagerTest, ReportsReadyThenStoppingAndWritesInteropFile) {
  TempDir dir;
  writeFile(dir.file("registry"),
            daemonRegistry("Interop=yes\nInteropFile=" + dir.file("d.ior") +
                           "\nPriority=3\n"));
  NotifySocket manager(dir);
  Talvod daemon(dir, {}, {{"NOTIFY_SOCKET", manager.path()}});
  ASSERT_TRUE(daemon.started());
  ASSERT_TRUE(manager.waitFor("READY=1"));
  EXPECT_EQ(manager.received().front(), "STATUS=Starting");
  // Written at tear-down, not at start.
  EXPECT_FALSE(std::filesystem::exists(dir.file("d.ior")));

  daemon.signal(SIGUSR1);
  EXPECT_TRUE(manager.waitFor("STOPPING=1")) << daemon.errors();
  EXPECT_EQ(daemon.exitCode(), 3);
  EXPECT_TRUE(std::filesystem::exists(dir.file("d.ior")));
}

TEST(TalvodForegroundTest, RunsUntilStopAndLogs) {
  TempDir dir;
  writeFile(
      dir.file("registry"),
      daemonRegistry("Log=yes\nLogFile=" + dir.file("daemon.log") + "\n"));
  writeFile(dir.file("daemon.log"), "old text\n");
  Talvod daemon(dir, {"-F"});
  ASSERT_TRUE(daemon.waitForErrors("Talvo Daemon: status READY=1\n"));
  // A user control is not handled: logged as unsupported, and it goes on.
  daemon.signal(SIGHUP);
  ASSERT_TRUE(daemon.waitForErrors(
      "Talvo Daemon: The service received an unsupported request.\n"));
  // Idle, no thread wakes to look for a stop or for ended children (a
  // polling daemon woke a dozen times a second). The last steps of the
  // control's handling may still run in the first moments.
  const long before = contextSwitches(daemon.pid());
  EXPECT_FALSE(daemon.wait(std::chrono::seconds(1)));  // the span watched
  EXPECT_LE(contextSwitches(daemon.pid()) - before, 2);

  daemon.signal(SIGUSR1);
  EXPECT_EQ(daemon.exitCode(), 3);
  std::string err = daemon.errors();
  EXPECT_NE(err.find("Talvo Daemon: status STATUS=Starting\n"
                     "Talvo Daemon: The service was started.\n"
                     "Talvo Daemon: status READY=1\n"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("Talvo Daemon: status STOPPING=1\n"
                     "Talvo Daemon: The service was stopped.\n"
                     "Talvo Daemon: status STATUS=Stopped\n"),
            std::string::npos)
      << err;
  // The log is appended to; the banner reached it through DaemonOutput.
  EXPECT_EQ(
      readFile(dir.file("daemon.log")).rfind("old text\nTalvo daemon v2.3c", 0),
      0u);
  // No interop file unless asked.
  EXPECT_FALSE(std::filesystem::exists(dir.file("talvod.ior")));
}

// ---- Boundaries --------------------------------------------------------

TEST(TalvodSignalTest, ClosedownLineAtLevelOneSilenceAtZero) {
  for (int sig : {SIGINT, SIGTERM, 0}) {
    TempDir dir;
    // No settings key: trace level 1 and every other default.
    if (sig == 0) dir.write("registry", daemonRegistry("TraceLevel=0\n"));
    Talvod daemon(dir, {"-f"});
    ASSERT_TRUE(daemon.waitForErrors("status READY=1"));
    daemon.signal(sig == 0 ? SIGINT : sig);
    EXPECT_EQ(daemon.exitCode(), 0);
    const std::string out = daemon.output();
    if (sig == 0) {
      EXPECT_EQ(out.find("Closedown"), std::string::npos);
      continue;
    }
    std::string expected =
        std::string(kClosedownLine) + std::to_string(sig) + ">\n";
    ASSERT_GE(out.size(), expected.size());
    EXPECT_EQ(out.substr(out.size() - expected.size()), expected);
  }
}

TEST(TalvodForegroundTest, StopDuringStartUpIsHonoured) {
  TempDir dir;
  writeFile(
      dir.file("registry"),
      daemonRegistry("Interop=yes\nInteropFile=" + dir.file("d.ior") + "\n"));
  Talvod daemon(dir, {"-f"}, {}, /*usr1_pending_at_start=*/true);
  ASSERT_TRUE(daemon.started());
  daemon.signal(SIGUSR1);
  EXPECT_EQ(daemon.exitCode(), 3) << daemon.errors();
  EXPECT_NE(daemon.errors().find("Talvo Daemon: The service was stopped.\n"),
            std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(dir.file("d.ior")));
}

// ---- Error paths -------------------------------------------------------

TEST(TalvodTearDownTest, UnwritableInteropFileIsFatal) {
  TempDir dir;
  std::string name = dir.file("missing/d.ior");
  writeFile(dir.file("registry"),
            daemonRegistry("Interop=yes\nInteropFile=" + name + "\n"));
  Talvod daemon(dir, {"-f"});
  ASSERT_TRUE(daemon.waitForErrors("status READY=1"));
  daemon.signal(SIGUSR1);
  EXPECT_EQ(daemon.exitCode(), 1);
  EXPECT_NE(daemon.errors().find(
                "Talvo Daemon: talvod: Unable to create file - " + name +
                ".\n Check the entry for 'CheckPointing File'"),
            std::string::npos)
      << daemon.errors();
}

}  // namespace
}  // namespace talvo::testing
