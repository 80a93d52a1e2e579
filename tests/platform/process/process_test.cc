#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

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

// Kills and reaps a child a test started, whatever happened in the test.
struct ChildGuard {
  pid_t pid = 0;
  ~ChildGuard() {
    if (pid > 0) killChildAndWait(pid);
  }
};

// Round trips: what the child sees, and its life from start to reaping.

TEST(ProcessRoundTrip, ChildSeesExactlyTheChangedEnvironment) {
  TempDir dir;
  ::setenv("TALVO_TEST_KEPT", "kept", 1);
  ::setenv("TALVO_TEST_DROPPED", "gone", 1);
  ::setenv("TALVO_TEST_REPLACED", "old", 1);
  SpawnResult child = spawnProcess("  " + probe(dir.file("r"), 0) + "  ",
                                   {{"TALVO_TEST_DROPPED", std::nullopt},
                                    {"TALVO_TEST_REPLACED", "new"},
                                    {"TALVO_TEST_ADDED", "a b=c"},
                                    {"TALVO_TEST_TWICE", "first"},
                                    {"TALVO_TEST_TWICE", std::nullopt}});
  ChildGuard guard{child.pid};
  ASSERT_TRUE(child.ok()) << child.error;
  auto report = waitForReport(dir.file("r"));
  ASSERT_TRUE(report);
  EXPECT_EQ(report->pid, child.pid);
  EXPECT_EQ(report->env["TALVO_TEST_KEPT"], "kept");
  EXPECT_FALSE(report->has("TALVO_TEST_DROPPED"));
  EXPECT_EQ(report->env["TALVO_TEST_REPLACED"], "new");
  EXPECT_EQ(report->env["TALVO_TEST_ADDED"], "a b=c");
  EXPECT_FALSE(report->has("TALVO_TEST_TWICE"));
  // The parent's own environment is untouched.
  EXPECT_STREQ(::getenv("TALVO_TEST_DROPPED"), "gone");
  EXPECT_STREQ(::getenv("TALVO_TEST_REPLACED"), "old");
}

TEST(ProcessRoundTrip, ChildInheritsOnlyStandardDescriptors) {
  TempDir dir;
  int leaky = ::open("/dev/null", O_RDONLY);  // deliberately not close-on-exec
  ASSERT_GE(leaky, 3);
  SpawnResult child = spawnProcess(probe(dir.file("r"), 0), {});
  ChildGuard guard{child.pid};
  ::close(leaky);
  ASSERT_TRUE(child.ok());
  auto report = waitForReport(dir.file("r"));
  ASSERT_TRUE(report);
  EXPECT_EQ(report->fds, (std::set<int>{0, 1, 2}));
}

TEST(ProcessRoundTrip, RunningChildIsReapedWhenItEnds) {
  TempDir dir;
  SpawnResult child = spawnProcess(probe(dir.file("r"), 0), {});
  ChildGuard guard{child.pid};
  ASSERT_TRUE(child.ok());
  ASSERT_TRUE(waitForReport(dir.file("r")));
  ASSERT_TRUE(eventually([&] { return !isChildRunning(child.pid); }));
  EXPECT_TRUE(processGone(child.pid)) << "zombie left behind";
  EXPECT_FALSE(isProcessAlive(child.pid));
  auto status = childEndStatus(child.pid);
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0);
}

TEST(ProcessRoundTrip, ReapEndedChildrenLeavesNoZombie) {
  TempDir dir;
  SpawnResult child = spawnProcess(probe(dir.file("r"), 0) + " 7", {});
  ChildGuard guard{child.pid};
  ASSERT_TRUE(child.ok());
  ASSERT_TRUE(eventually([&] {
    reapEndedChildren();
    return processGone(child.pid);
  }));
  auto status = childEndStatus(child.pid);
  ASSERT_TRUE(status);
  EXPECT_EQ(WEXITSTATUS(*status), 7);
}

TEST(ProcessRoundTrip, TerminateEndsChildEvenWhenParentIgnoresSigterm) {
  TempDir dir;
  auto old = ::signal(SIGTERM, SIG_IGN);
  SpawnResult child = spawnProcess(probe(dir.file("r"), 30), {});
  ::signal(SIGTERM, old);
  ChildGuard guard{child.pid};
  ASSERT_TRUE(child.ok());
  ASSERT_TRUE(waitForReport(dir.file("r")));
  EXPECT_TRUE(isChildRunning(child.pid));
  EXPECT_TRUE(isProcessAlive(child.pid));
  EXPECT_TRUE(terminateProcess(child.pid));
  ASSERT_TRUE(eventually([&] { return !isChildRunning(child.pid); }));
  auto status = childEndStatus(child.pid);
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFSIGNALED(*status));
  EXPECT_EQ(WTERMSIG(*status), SIGTERM);
  EXPECT_TRUE(processGone(child.pid));
}

// Boundaries.

TEST(ProcessBoundary, SplitCommandAtBlanks) {
  EXPECT_EQ(splitCommand("  prog   a b  "),
            (std::vector<std::string>{"prog", "a", "b"}));
  EXPECT_EQ(splitCommand("prog\ta"), (std::vector<std::string>{"prog\ta"}));
  EXPECT_TRUE(splitCommand("").empty());
  EXPECT_TRUE(splitCommand("    ").empty());
}

TEST(ProcessBoundary, LivenessOfProcessesThatAreNotChildren) {
  EXPECT_TRUE(isProcessAlive(::getpid()));
  EXPECT_TRUE(isProcessAlive(1));  // another user's process: EPERM counts
  EXPECT_FALSE(isChildRunning(::getpid()));
  EXPECT_FALSE(isProcessAlive(0));
  EXPECT_FALSE(isProcessAlive(-1));
}

// Error paths.

TEST(ProcessError, MissingProgramFailsWithoutChild) {
  SpawnResult child = spawnProcess("talvo-no-such-program-xyz arg", {});
  EXPECT_FALSE(child.ok());
  EXPECT_EQ(child.error, ENOENT);
  EXPECT_EQ(spawnProcess("   ", {}).error, ENOENT);
  EXPECT_FALSE(spawnProcess("/", {}).ok());  // a folder is no program
}

TEST(ProcessError, NoSignalForProcessGroupIds) {
  // 0 and -1 would signal the process group or every process we may signal.
  auto old = ::signal(SIGTERM, SIG_DFL);
  EXPECT_FALSE(terminateProcess(0));
  EXPECT_FALSE(terminateProcess(-1));
  ::signal(SIGTERM, old);
  EXPECT_FALSE(killChildAndWait(::getpid()));
}

}  // namespace
}  // namespace talvo::platform
