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

using talvo::testing::ProbeReport;

class LaunchTest : public ::testing::Test {
 protected:
  ~LaunchTest() override {
    for (pid_t pid : started_) platform::killChildAndWait(pid);
    for (pid_t pid : started_) EXPECT_TRUE(testing::processGone(pid));
  }

  // A request that starts the probe, reporting to `report` and staying up.
  LaunchRequest request(const std::string& report) {
    LaunchRequest r;
    r.server = "bank";
    r.command =
        std::string(TALVO_LAUNCH_PROBE) + " " + dir.file(report) + " 60";
    r.code = "xdr";
    r.comms = "tcp";
    r.port = "7601";
    r.iiopPort = "7602";
    r.daemonPort = 7591;
    return r;
  }
  // Launches and waits for the child's report; the child is remembered.
  ProbeReport launch(const LaunchRequest& r) {
    Status error = activator.launchServer(r);
    EXPECT_EQ(error, nullptr) << (error ? error->minor() : 0);
    std::string report = r.command.substr(r.command.find(' ') + 1);
    auto seen = testing::waitForReport(report.substr(0, report.find(' ')));
    EXPECT_TRUE(seen);
    if (seen) started_.insert(seen->pid);
    return seen.value_or(ProbeReport{});
  }

  testing::TraceCapture trace;
  testing::TempDir dir;
  testing::FakeRuntime runtime;
  PosixActivator activator{runtime};

 private:
  std::set<pid_t> started_;
};

// Round trips.

TEST_F(LaunchTest, ChildSeesItsLaunchEnvironmentAndIsRecorded) {
  ProbeReport seen = launch(request("r1"));
  EXPECT_EQ(seen.env["QV_SERVER_COMMS"], "tcp");
  EXPECT_EQ(seen.env["QV_SERVER_PORT"], "7601");
  EXPECT_EQ(seen.env["QV_IIOP_PORT"], "7602");
  EXPECT_EQ(seen.env["QV_SERVER_CODE"], "xdr");
  EXPECT_EQ(seen.env["QV_SERVER_NAME"], "bank");
  EXPECT_EQ(seen.env["QV_SERVER_MARKER"], "QV_nullMarker");
  EXPECT_EQ(seen.env["QV_MARKER_PATTERN"], "QV_nullMarker");
  EXPECT_FALSE(seen.has("QV_SERVER_METHOD"));  // empty: absent
  EXPECT_EQ(seen.env["QV_ACT_POLICY"], "shared_m");
  EXPECT_EQ(seen.env["QV_WELL_KNOWN_PORT"], "7591");
  EXPECT_EQ(seen.fds, (std::set<int>{0, 1, 2}));
  EXPECT_TRUE(trace.hasLine(" setting IIOP port to 7602"));
  EXPECT_EQ(::getenv("QV_SERVER_NAME"), nullptr);  // daemon's env untouched
  // Recorded under the empty marker without principal, and alive.
  ASSERT_EQ(activator.table().keys(), std::vector<std::string>{"bank||||||"});
  LaunchRecord* record = activator.isServerAlive("bank", "", {});
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->processId(), seen.pid);
  EXPECT_EQ(record->status, LaunchStatus::automaticLaunch);
  EXPECT_EQ(record->port + "/" + record->iiopPort, "7601/7602");
}

TEST_F(LaunchTest, SecondLaunchSeesOnlyItsOwnVariables) {
  ::setenv("QV_SERVER_METHOD", "stale-from-daemon", 1);
  LaunchRequest first = request("r1");
  first.marker = "obj1";
  first.markerPattern = "obj*";
  first.method = "deposit";
  first.policy = 1;
  ProbeReport one = launch(first);
  EXPECT_EQ(one.env["QV_SERVER_MARKER"], "obj1");
  EXPECT_EQ(one.env["QV_MARKER_PATTERN"], "obj*");
  EXPECT_EQ(one.env["QV_SERVER_METHOD"], "deposit");
  EXPECT_EQ(one.env["QV_ACT_POLICY"], "unshared_m");

  LaunchRequest second = request("r2");
  second.server = "shop";
  second.iiopPort = "";
  second.policy = 7;      // no policy text
  second.daemonPort = 0;  // the run time's QV_IIOP_PORT stands in
  runtime.iiop = "9999";
  ProbeReport two = launch(second);
  ::unsetenv("QV_SERVER_METHOD");
  EXPECT_EQ(two.env["QV_SERVER_NAME"], "shop");
  EXPECT_EQ(two.env["QV_SERVER_MARKER"], "QV_nullMarker");
  EXPECT_FALSE(two.has("QV_SERVER_METHOD"));
  EXPECT_FALSE(two.has("QV_ACT_POLICY"));
  EXPECT_FALSE(two.has("QV_IIOP_PORT"));
  EXPECT_EQ(two.env["QV_WELL_KNOWN_PORT"], "9999");
  EXPECT_EQ(activator.table().find("bank|||obj*|||")->processId(), one.pid);
  EXPECT_EQ(activator.table().find("shop||||||")->processId(), two.pid);
}

TEST_F(LaunchTest, ModeFlagsDecideThePrincipalAndPerMethodIsNotRecorded) {
  LaunchRequest perPid = request("p1");
  perPid.markerPattern = "*";
  perPid.principal = "alice";
  perPid.modeFlags = 2;
  ProbeReport a = launch(perPid);
  perPid.command = request("p2").command;
  ProbeReport b = launch(perPid);
  LaunchRequest perClient = request("c1");
  perClient.principal = "alice";
  perClient.modeFlags = 1;
  launch(perClient);
  LaunchRequest perMethod = request("m1");
  perMethod.method = "withdraw";
  perMethod.policy = 2;
  EXPECT_EQ(launch(perMethod).env["QV_ACT_POLICY"], "permethod_m");
  std::vector<std::string> keys = activator.table().keys();
  std::sort(keys.begin(), keys.end());
  std::vector<std::string> expected{"bank|||*|||" + std::to_string(a.pid),
                                    "bank|||*|||" + std::to_string(b.pid),
                                    "bank||||||alice"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(keys, expected);
}

TEST_F(LaunchTest, DeadServerIsDroppedAndKillEndsALiveOne) {
  LaunchRequest r = request("r1");
  r.markerPattern = "*";
  r.modeFlags = 2;
  ProbeReport dying = launch(r);
  std::string pidText = std::to_string(dying.pid);
  EXPECT_NE(activator.isServerAlive("bank", "*", pidText), nullptr);
  ASSERT_TRUE(platform::killChildAndWait(dying.pid));
  EXPECT_EQ(activator.isServerAlive("bank", "*", pidText), nullptr);
  EXPECT_EQ(activator.size(), 0u);

  ProbeReport killed = launch(request("r2"));
  ASSERT_EQ(activator.killServer("bank", "", {}), nullptr);
  EXPECT_EQ(activator.size(), 0u);
  ASSERT_TRUE(testing::eventually(
      [&] { return !platform::isChildRunning(killed.pid); }));
  EXPECT_EQ(WTERMSIG(*platform::childEndStatus(killed.pid)), SIGTERM);
}

TEST_F(LaunchTest, RegisteredProcessIsSignalledOnlyWhenItHoldsItsConnection) {
  // A persistent server names its own process id; the daemon signals that
  // process only when it holds the server's connection, so a client cannot
  // have it signal an unrelated process. The record goes either way.
  testing::TempDir dir;
  platform::SpawnResult bystander = platform::spawnProcess(
      std::string(TALVO_LAUNCH_PROBE) + " " + dir.file("r") + " 30", {});
  ASSERT_TRUE(bystander.ok());
  struct Guard {
    pid_t pid;
    ~Guard() { platform::killChildAndWait(pid); }
  } guard{bystander.pid};
  const std::string pid = std::to_string(bystander.pid);
  auto registerLedger = [&] {
    activator.registerActivation("ledger", "*", LaunchStatus::manualLaunch,
                                 "xdr", "tcp", "7000", "",
                                 processIdBuffer(bystander.pid), std::nullopt);
  };

  registerLedger();
  ASSERT_EQ(activator.killServer("ledger", "*", {}), nullptr);
  EXPECT_EQ(activator.size(), 0u);
  EXPECT_TRUE(trace.hasLine(" process " + pid +
                            " does not hold the connection of ledger, not "
                            "signalled "));
  EXPECT_TRUE(platform::isChildRunning(bystander.pid));

  registerLedger();
  runtime.held.insert({"ledger", bystander.pid});
  ASSERT_EQ(activator.killServer("ledger", "*", {}), nullptr);
  ASSERT_TRUE(testing::eventually(
      [&] { return !platform::isChildRunning(bystander.pid); }));
  EXPECT_EQ(WTERMSIG(*platform::childEndStatus(bystander.pid)), SIGTERM);
}

// Boundaries of the launch environment.

TEST_F(LaunchTest, LaunchEnvironmentHoldsTenTextsInOrder) {
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(activator.setLaunchVariable("QV_X", std::string_view("v")),
              nullptr);
  }
  Status error = activator.setLaunchVariable("QV_SERVER_NAME", std::nullopt);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->bareName() + " " + std::to_string(error->minor()) + " " +
                error->detail().value_or(""),
            "OBJ_ADAPTER 10461 QV_SERVER_COMMS");
  EXPECT_EQ(error->completed(), CORBA::COMPLETED_MAYBE);
  ASSERT_EQ(activator.setLaunchEnvironment("tcp", "1", "2", 3, "xdr", "s", "m",
                                           "p", "", 0),
            nullptr);  // clears first
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
  ProbeReport seen = launch(r);
  EXPECT_EQ(activator.launchEnvironment().size(), 3u);
  EXPECT_EQ(seen.env["QV_IIOP_PORT"], "7602");
  EXPECT_FALSE(seen.has("QV_SERVER_CODE"));
  EXPECT_FALSE(seen.has("QV_WELL_KNOWN_PORT"));
}

// Error paths: nothing started, nothing recorded.

TEST_F(LaunchTest, ProgramThatCannotStartGivesNoImplement) {
  std::string plainFile = dir.file("plain");
  std::ofstream(plainFile) << "not a program\n";
  for (const std::string& command :
       {std::string("talvo-no-such-server -x"), plainFile, dir.path()}) {
    LaunchRequest r = request("never");
    r.command = command;
    Status error = activator.launchServer(r);
    ASSERT_NE(error, nullptr) << command;
    EXPECT_EQ(error->bareName() + " " + std::to_string(error->minor()) + " " +
                  error->detail().value_or(""),
              "NO_IMPLEMENT 10202 bank");
  }
  EXPECT_EQ(activator.size(), 0u);
}

}  // namespace
}  // namespace talvo
