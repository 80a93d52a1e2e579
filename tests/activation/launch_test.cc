// Launching real server processes: the launch environment as the child sees
// it, what is recorded, failures, liveness and killing. Every process a test
// starts is killed and reaped before the test ends.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>

#include <fstream>
#include <set>

#include "activation/posix_activator.h"
#include "activation_support.h"
#include "platform/process.h"
#include "platform/signals.h"
#include "probe_support.h"
#include "support/status_text.h"

namespace talvo {
namespace {

using talvo::testing::ProbeReport;
using Vars = std::map<std::string, std::string>;

// The launch variables a probe saw.
Vars qv(const ProbeReport& report) {
  Vars out;
  for (const auto& [name, value] : report.env) {
    if (name.rfind("QV_", 0) == 0) out[name] = value;
  }
  return out;
}

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
  ::setenv("QV_SERVER_METHOD", "stale-from-daemon", 1);
  ProbeReport seen = launch(request("r1"));
  ::unsetenv("QV_SERVER_METHOD");
  // An empty value (the method here) leaves the variable out.
  EXPECT_EQ(qv(seen), (Vars{{"QV_SERVER_COMMS", "tcp"},
                            {"QV_SERVER_PORT", "7601"},
                            {"QV_IIOP_PORT", "7602"},
                            {"QV_SERVER_CODE", "xdr"},
                            {"QV_SERVER_NAME", "bank"},
                            {"QV_SERVER_MARKER", "QV_nullMarker"},
                            {"QV_MARKER_PATTERN", "QV_nullMarker"},
                            {"QV_ACT_POLICY", "shared_m"},
                            {"QV_WELL_KNOWN_PORT", "7591"}}));
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

  // A second launch sees only its own values.
  LaunchRequest second = request("r2");
  second.server = "shop";
  second.marker = "obj1";
  second.markerPattern = "obj*";
  second.method = "deposit";
  second.policy = 7;  // no policy text
  second.iiopPort = "";
  second.daemonPort = 0;  // the run time's QV_IIOP_PORT stands in
  runtime.iiop = "9999";
  ProbeReport two = launch(second);
  EXPECT_EQ(qv(two), (Vars{{"QV_SERVER_COMMS", "tcp"},
                           {"QV_SERVER_PORT", "7601"},
                           {"QV_SERVER_CODE", "xdr"},
                           {"QV_SERVER_NAME", "shop"},
                           {"QV_SERVER_MARKER", "obj1"},
                           {"QV_MARKER_PATTERN", "obj*"},
                           {"QV_SERVER_METHOD", "deposit"},
                           {"QV_WELL_KNOWN_PORT", "9999"}}));
  EXPECT_EQ(activator.table().find("shop|||obj*|||")->processId(), two.pid);
}

// While child ends arrive as events (SIGCHLD through the loop), liveness
// answers from the reaper's table without asking the system, and a child
// is known as ended as soon as its end has been taken.
TEST_F(LaunchTest, LivenessComesFromTheReapersTable) {
  platform::ChildEndWatch ends;
  struct Signalled {
    Signalled() { platform::setChildEndsSignalled(true); }
    ~Signalled() { platform::setChildEndsSignalled(false); }
  } signalled;
  ProbeReport seen = launch(request("r1"));
  const unsigned long polls = platform::childPolls();
  for (int i = 0; i < 50; ++i) {
    ASSERT_NE(activator.isServerAlive("bank", "", {}), nullptr);
  }
  EXPECT_EQ(platform::childPolls(), polls);

  ::kill(seen.pid, SIGKILL);
  pollfd readable{ends.descriptor(), POLLIN, 0};
  ASSERT_EQ(::poll(&readable, 1, 10000), 1);
  ends.drain();
  platform::reapEndedChildren();
  EXPECT_EQ(activator.isServerAlive("bank", "", {}), nullptr);
  EXPECT_TRUE(testing::processGone(seen.pid));
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
  EXPECT_EQ(testing::what(error), "OBJ_ADAPTER 10461 QV_SERVER_COMMS");
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
  for (auto [policy, text] : {std::pair{1, "QV_ACT_POLICY=unshared_m"},
                              std::pair{2, "QV_ACT_POLICY=permethod_m"}}) {
    ASSERT_EQ(activator.setLaunchEnvironment("tcp", "1", "2", 3, "xdr", "s",
                                             "m", "p", "", policy),
              nullptr);
    EXPECT_EQ(activator.launchEnvironment().at(8), text);
  }
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
    EXPECT_EQ(testing::what(activator.launchServer(r)),
              "NO_IMPLEMENT 10202 bank")
        << command;
  }
  EXPECT_EQ(activator.size(), 0u);
}

}  // namespace
}  // namespace talvo
