// The talvod program run as a process: under a simulated service manager,
// in the foreground, from a console, and ended by signals.

#include "talvod_process.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

namespace talvo::testing {
namespace {

using std::chrono::milliseconds;

constexpr char kClosedownLine[] =
    "[talvod: \n<Closedown Handler, Tidying up after signal: ";

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
  std::this_thread::sleep_for(std::chrono::seconds(1));  // the span watched
  EXPECT_LE(contextSwitches(daemon.pid()) - before, 2);
  EXPECT_FALSE(daemon.wait(milliseconds(0)));

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
  // The log was truncated; the banner reached it through DaemonOutput.
  EXPECT_EQ(readFile(dir.file("daemon.log")).rfind("Talvo daemon v2.3c", 0),
            0u);
  // No interop file unless asked.
  EXPECT_FALSE(std::filesystem::exists(dir.file("talvod.ior")));
}

// ---- Boundaries --------------------------------------------------------

TEST(TalvodConsoleTest, WithoutServiceManagerEndsAtOnce) {
  TempDir dir;
  Talvod daemon(dir, {});
  EXPECT_EQ(daemon.exitCode(std::chrono::seconds(5)), 3);
  EXPECT_EQ(daemon.output(), "");
}

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
