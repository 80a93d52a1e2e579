#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "probe_support.h"

namespace talvo::platform {
namespace {

using talvo::testing::eventually;
using talvo::testing::processGone;
using talvo::testing::TempDir;
using talvo::testing::waitForReport;

std::string probe(const std::string& report, int seconds) {
  return std::string(TALVO_LAUNCH_PROBE) + " " + report + " " +
         std::to_string(seconds);
}

// Kills and reaps the child whatever happens in the test.
struct ChildGuard {
  pid_t pid;
  ~ChildGuard() { killChildAndWait(pid); }
};

// Round trips.

TEST(ProcessRoundTrip, ChildSeesChangedEnvironmentAndStandardFdsOnly) {
  TempDir dir;
  ::setenv("TALVO_T_KEPT", "kept", 1);
  ::setenv("TALVO_T_DROPPED", "gone", 1);
  int leaky = ::open("/dev/null", O_RDONLY);  // deliberately not close-on-exec
  SpawnResult child = spawnProcess("  " + probe(dir.file("r"), 0) + "  ",
                                   {{"TALVO_T_DROPPED", std::nullopt},
                                    {"TALVO_T_ADDED", "a b=c"},
                                    {"TALVO_T_TWICE", "first"},
                                    {"TALVO_T_TWICE", std::nullopt}});
  ChildGuard guard{child.pid};
  ::close(leaky);
  ASSERT_TRUE(child.ok()) << child.error.message();
  auto report = waitForReport(dir.file("r"));
  ASSERT_TRUE(report);
  EXPECT_EQ(report->pid, child.pid);
  EXPECT_EQ(report->env["TALVO_T_KEPT"], "kept");
  EXPECT_FALSE(report->has("TALVO_T_DROPPED"));
  EXPECT_EQ(report->env["TALVO_T_ADDED"], "a b=c");
  EXPECT_FALSE(report->has("TALVO_T_TWICE"));  // the later change wins
  EXPECT_EQ(report->fds, (std::set<int>{0, 1, 2}));
  EXPECT_STREQ(::getenv("TALVO_T_DROPPED"), "gone");  // parent untouched
}

TEST(ProcessRoundTrip, TerminateEndsChildEvenWhenParentIgnoresSigterm) {
  TempDir dir;
  auto old = ::signal(SIGTERM, SIG_IGN);  // ignored signals survive exec
  SpawnResult child = spawnProcess(probe(dir.file("r"), 30), {});
  ::signal(SIGTERM, old);
  ChildGuard guard{child.pid};
  ASSERT_TRUE(waitForReport(dir.file("r")));
  EXPECT_TRUE(isChildRunning(child.pid));
  EXPECT_TRUE(isProcessAlive(child.pid));
  EXPECT_TRUE(terminateProcess(child.pid));
  ASSERT_TRUE(eventually([&] { return !isChildRunning(child.pid); }));
  EXPECT_EQ(WTERMSIG(*childEndStatus(child.pid)), SIGTERM);
  EXPECT_TRUE(processGone(child.pid));
}

TEST(ProcessRoundTrip, ReapPassFindsTheEndedChildAmongRunningOnes) {
  // A pass first asks whether any child ended at all; when one did, only
  // ended children are reaped, and a child that is not ours (here a forked
  // one that ended, its zombie waiting for this test) is left to its owner.
  TempDir dir;
  struct Children {
    std::vector<pid_t> pids;
    ~Children() {
      for (pid_t pid : pids) killChildAndWait(pid);
    }
  } running;
  for (int i = 0; i < 3; ++i) {
    SpawnResult child =
        spawnProcess(probe(dir.file("run" + std::to_string(i)), 30), {});
    ASSERT_TRUE(child.ok());
    running.pids.push_back(child.pid);
  }
  reapEndedChildren();  // nothing ended yet: everything stays
  for (pid_t pid : running.pids) EXPECT_TRUE(isChildRunning(pid));

  const pid_t foreign = ::fork();
  if (foreign == 0) ::_exit(5);
  SpawnResult ending = spawnProcess(probe(dir.file("end"), 0) + " 3", {});
  ChildGuard guard{ending.pid};
  ASSERT_TRUE(ending.ok());
  ASSERT_TRUE(eventually([&] {
    reapEndedChildren();
    return processGone(ending.pid);
  }));
  EXPECT_EQ(WEXITSTATUS(*childEndStatus(ending.pid)), 3);
  EXPECT_FALSE(isChildRunning(ending.pid));
  EXPECT_FALSE(isProcessAlive(ending.pid));
  for (pid_t pid : running.pids) EXPECT_TRUE(isChildRunning(pid));

  int status = 0;
  ASSERT_EQ(::waitpid(foreign, &status, 0), foreign);  // not taken from us
  EXPECT_EQ(WEXITSTATUS(status), 5);
}

// Boundaries.

TEST(ProcessBoundary, ChildTrackedWhenSigchldIsIgnored) {
  // With SIGCHLD ignored the kernel reaps children itself; waitpid cannot
  // see them, and the still-running test must not call them ended.
  TempDir dir;
  auto old = ::signal(SIGCHLD, SIG_IGN);
  SpawnResult child = spawnProcess(probe(dir.file("r"), 30), {});
  ChildGuard guard{child.pid};
  ASSERT_TRUE(waitForReport(dir.file("r")));
  EXPECT_TRUE(isChildRunning(child.pid));
  EXPECT_TRUE(terminateProcess(child.pid));
  EXPECT_TRUE(eventually([&] { return !isChildRunning(child.pid); }));
  ::signal(SIGCHLD, old);
}

TEST(ProcessBoundary, SplitAtBlanksAndLivenessOfOtherProcesses) {
  EXPECT_EQ(splitCommand("  prog   a\tb  "),
            (std::vector<std::string>{"prog", "a\tb"}));
  EXPECT_TRUE(splitCommand("   ").empty());
  EXPECT_TRUE(isProcessAlive(::getpid()));  // exists, not our child
  EXPECT_TRUE(isProcessAlive(1));           // another user's: EPERM counts
  EXPECT_FALSE(isChildRunning(::getpid()));
  EXPECT_FALSE(isProcessAlive(0));
  EXPECT_FALSE(isProcessAlive(-1));
}

// Error paths.

TEST(ProcessError, StartFailuresAndProcessGroupIds) {
  EXPECT_EQ(spawnProcess("talvo-no-such-program-xyz arg", {}).error,
            std::errc::no_such_file_or_directory);
  EXPECT_EQ(spawnProcess("   ", {}).error,
            std::errc::no_such_file_or_directory);
  EXPECT_FALSE(spawnProcess("/", {}).ok());  // a folder is no program
  // 0 and -1 would reach the process group or every process we may signal.
  EXPECT_FALSE(terminateProcess(0));
  EXPECT_FALSE(terminateProcess(-1));
  EXPECT_FALSE(killChildAndWait(::getpid()));
}

}  // namespace
}  // namespace talvo::platform
