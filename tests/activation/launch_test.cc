// Launching real server processes: the launch environment as the child sees
// it, what is recorded, failures, liveness and killing. Every process a test
// starts is killed and reaped before the test ends.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <set>

#include "activation/posix_activator.h"
#include "activation_support.h"
#include "platform/process.h"
#include "probe_support.h"

namespace talvo {
namespace {

using talvo::testing::eventually;
using talvo::testing::FakeRuntime;
using talvo::testing::ProbeReport;
using talvo::testing::TempDir;
using talvo::testing::TraceCapture;
using talvo::testing::waitForReport;

class LaunchTest : public ::testing::Test {
 protected:
  ~LaunchTest() override {
    for (pid_t pid : started_) platform::killChildAndWait(pid);
    for (pid_t pid : started_) EXPECT_TRUE(talvo::testing::processGone(pid));
  }

  // A request that starts the probe, reporting to `report` and staying up.
  LaunchRequest request(const std::string& report, int seconds = 60) {
    LaunchRequest r;
    r.server = "bank";
    r.command = std::string(TALVO_LAUNCH_PROBE) + " " + dir.file(report) + " " +
                std::to_string(seconds);
    r.code = "xdr";
    r.comms = "tcp";
    r.port = "7601";
    r.iiopPort = "7602";
    r.daemonPort = 7591;
    return r;
  }

  // Launches and waits for the child's report; remembers the child.
  std::optional<ProbeReport> launch(const LaunchRequest& r,
                                    const std::string& report) {
    Status error = activator.launchServer(r);
    EXPECT_EQ(error, nullptr) << (error ? error->minor() : 0);
    std::optional<ProbeReport> seen = waitForReport(dir.file(report));
    if (seen) started_.insert(seen->pid);
    return seen;
  }

  TraceCapture trace;
  TempDir dir;
  FakeRuntime runtime;
  PosixActivator activator{runtime};

 private:
  std::set<pid_t> started_;
};

// Round trips.

TEST_F(LaunchTest, ChildSeesItsLaunchEnvironment) {
  LaunchRequest r = request("r1");
  auto seen = launch(r, "r1");
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->env["QV_SERVER_COMMS"], "tcp");
  EXPECT_EQ(seen->env["QV_SERVER_PORT"], "7601");
  EXPECT_EQ(seen->env["QV_IIOP_PORT"], "7602");
  EXPECT_EQ(seen->env["QV_SERVER_CODE"], "xdr");
  EXPECT_EQ(seen->env["QV_SERVER_NAME"], "bank");
  EXPECT_EQ(seen->env["QV_SERVER_MARKER"], "QV_nullMarker");
  EXPECT_EQ(seen->env["QV_MARKER_PATTERN"], "QV_nullMarker");
  EXPECT_FALSE(seen->has("QV_SERVER_METHOD"));  // empty: absent
  EXPECT_EQ(seen->env["QV_ACT_POLICY"], "shared_m");
  EXPECT_EQ(seen->env["QV_WELL_KNOWN_PORT"], "7591");
  EXPECT_EQ(seen->fds, (std::set<int>{0, 1, 2}));
  EXPECT_TRUE(trace.hasLine(" setting IIOP port to 7602"));

  // Recorded under the empty marker, no principal.
  ASSERT_EQ(activator.table().keys(), std::vector<std::string>{"bank||||||"});
  LaunchRecord* record = activator.isServerAlive("bank", "", {});
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->processId(), seen->pid);
  EXPECT_EQ(record->status, LaunchStatus::automaticLaunch);
  EXPECT_EQ(record->port, "7601");
  EXPECT_EQ(record->iiopPort, "7602");
  EXPECT_FALSE(record->principal);
  // The daemon's own environment is left alone.
  EXPECT_EQ(::getenv("QV_SERVER_NAME"), nullptr);
}

TEST_F(LaunchTest, SecondLaunchSeesOnlyItsOwnVariables) {
  ::setenv("QV_SERVER_METHOD", "stale-from-daemon", 1);
  LaunchRequest first = request("r1");
  first.marker = "obj1";
  first.markerPattern = "obj*";
  first.method = "deposit";
  first.policy = 1;
  auto one = launch(first, "r1");
  ASSERT_TRUE(one);
  EXPECT_EQ(one->env["QV_SERVER_MARKER"], "obj1");
  EXPECT_EQ(one->env["QV_MARKER_PATTERN"], "obj*");
  EXPECT_EQ(one->env["QV_SERVER_METHOD"], "deposit");
  EXPECT_EQ(one->env["QV_ACT_POLICY"], "unshared_m");

  LaunchRequest second = request("r2");
  second.server = "shop";
  second.daemonPort = 0;  // the run time's QV_IIOP_PORT stands in
  runtime.iiop = "9999";
  second.policy = 7;  // no policy text
  second.iiopPort = "";
  auto two = launch(second, "r2");
  ASSERT_TRUE(two);
  EXPECT_EQ(two->env["QV_SERVER_NAME"], "shop");
  EXPECT_EQ(two->env["QV_SERVER_MARKER"], "QV_nullMarker");
  EXPECT_FALSE(two->has("QV_SERVER_METHOD"));
  EXPECT_FALSE(two->has("QV_ACT_POLICY"));
  EXPECT_FALSE(two->has("QV_IIOP_PORT"));
  EXPECT_EQ(two->env["QV_WELL_KNOWN_PORT"], "9999");
  ::unsetenv("QV_SERVER_METHOD");

  EXPECT_NE(activator.getLaunchRecord("bank", "obj1", {}), nullptr);
  EXPECT_EQ(activator.table().find("bank|||obj*|||")->processId(), one->pid);
  EXPECT_EQ(activator.table().find("shop||||||")->processId(), two->pid);
}

TEST_F(LaunchTest, PerMethodLaunchIsNotRecorded) {
  LaunchRequest r = request("r1");
  r.method = "withdraw";
  r.policy = 2;
  auto seen = launch(r, "r1");
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->env["QV_SERVER_METHOD"], "withdraw");
  EXPECT_EQ(seen->env["QV_ACT_POLICY"], "permethod_m");
  EXPECT_EQ(activator.size(), 0u);
}

TEST_F(LaunchTest, PrincipalFollowsTheModeFlags) {
  LaunchRequest perPid = request("p1");
  perPid.markerPattern = "*";
  perPid.principal = "alice";
  perPid.modeFlags = 2;
  auto a = launch(perPid, "p1");
  perPid.command = request("p2").command;
  auto b = launch(perPid, "p2");
  ASSERT_TRUE(a && b);
  // One record per process, keyed by its process id.
  EXPECT_NE(activator.table().find("bank|||*|||" + std::to_string(a->pid)),
            nullptr);
  EXPECT_NE(activator.table().find("bank|||*|||" + std::to_string(b->pid)),
            nullptr);

  LaunchRequest perClient = request("c1");
  perClient.server = "shop";
  perClient.principal = "alice";
  perClient.modeFlags = 1;
  ASSERT_TRUE(launch(perClient, "c1"));
  EXPECT_NE(activator.table().find("shop||||||alice"), nullptr);

  LaunchRequest roundRobin = request("rr");
  roundRobin.server = "pool";
  roundRobin.markerPattern = "#1";
  roundRobin.principal = "alice";
  roundRobin.modeFlags = 3;
  ASSERT_TRUE(launch(roundRobin, "rr"));
  EXPECT_NE(activator.table().find("pool|||#1|||"), nullptr);
  EXPECT_EQ(activator.size(), 4u);
}

TEST_F(LaunchTest, DeadLaunchedServerIsDroppedByTheLivenessTest) {
  LaunchRequest r = request("r1");
  r.markerPattern = "*";
  r.modeFlags = 2;
  auto seen = launch(r, "r1");
  ASSERT_TRUE(seen);
  std::string pidText = std::to_string(seen->pid);
  EXPECT_NE(activator.isServerAlive("bank", "*", pidText), nullptr);
  ASSERT_TRUE(platform::killChildAndWait(seen->pid));
  EXPECT_EQ(activator.isServerAlive("bank", "*", pidText), nullptr);
  EXPECT_EQ(activator.size(), 0u);
}

TEST_F(LaunchTest, KillServerEndsTheProcessAndItsRecord) {
  auto seen = launch(request("r1"), "r1");
  ASSERT_TRUE(seen);
  ASSERT_EQ(activator.killServer("bank", "", {}), nullptr);
  EXPECT_EQ(activator.size(), 0u);
  ASSERT_TRUE(eventually([&] { return !platform::isChildRunning(seen->pid); }));
  auto status = platform::childEndStatus(seen->pid);
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFSIGNALED(*status));
  EXPECT_EQ(WTERMSIG(*status), SIGTERM);
}

// Boundaries of the launch environment.

TEST_F(LaunchTest, LaunchEnvironmentHoldsAtMostTenTexts) {
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(activator.setLaunchVariable("QV_X", std::string_view("v")),
              nullptr);
  }
  Status error = activator.setLaunchVariable("QV_SERVER_NAME", std::nullopt);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->bareName(), "OBJ_ADAPTER");
  EXPECT_EQ(error->minor(), 10461u);
  EXPECT_EQ(error->completed(), CORBA::COMPLETED_MAYBE);
  EXPECT_EQ(error->detail(), "QV_SERVER_COMMS");
  activator.clearLaunchEnvironment();
  EXPECT_TRUE(activator.launchEnvironment().empty());
  ASSERT_EQ(activator.setLaunchEnvironment("tcp", "1", "2", 3, "xdr", "s", "m",
                                           "p", "", 0),
            nullptr);
  EXPECT_EQ(activator.launchEnvironment(),
            (std::vector<std::string>{
                "QV_SERVER_COMMS=tcp", "QV_SERVER_PORT=1", "QV_IIOP_PORT=2",
                "QV_SERVER_CODE=xdr", "QV_SERVER_NAME=s", "QV_SERVER_MARKER=m",
                "QV_MARKER_PATTERN=p", "QV_SERVER_METHOD=",
                "QV_ACT_POLICY=shared_m", "QV_WELL_KNOWN_PORT=3"}));
}

TEST_F(LaunchTest, FailingVariableStopsTheEnvironmentButNotTheLaunch) {
  LaunchRequest r = request("r1");
  r.code = std::string("x\0y", 3);  // cannot stand in an environment
  auto seen = launch(r, "r1");
  ASSERT_TRUE(seen);
  EXPECT_EQ(activator.launchEnvironment().size(), 3u);
  EXPECT_EQ(seen->env["QV_SERVER_COMMS"], "tcp");
  EXPECT_EQ(seen->env["QV_IIOP_PORT"], "7602");
  EXPECT_FALSE(seen->has("QV_SERVER_CODE"));
  EXPECT_FALSE(seen->has("QV_SERVER_NAME"));
  EXPECT_FALSE(seen->has("QV_WELL_KNOWN_PORT"));
}

// Error paths: nothing started, nothing recorded.

TEST_F(LaunchTest, ProgramThatCannotStartGivesNoImplement) {
  std::string notExecutable = dir.file("plain");
  { std::ofstream(notExecutable) << "not a program\n"; }
  for (const std::string& command :
       {std::string("talvo-no-such-server -x"), notExecutable, dir.path(),
        std::string("   ")}) {
    LaunchRequest r = request("never");
    r.command = command;
    Status error = activator.launchServer(r);
    ASSERT_NE(error, nullptr) << command;
    EXPECT_EQ(error->bareName(), "NO_IMPLEMENT");
    EXPECT_EQ(error->minor(), 10202u);
    EXPECT_EQ(error->completed(), CORBA::COMPLETED_NO);
    EXPECT_EQ(error->detail(), "bank");
  }
  EXPECT_EQ(activator.size(), 0u);
}

}  // namespace
}  // namespace talvo
