// Table operations, liveness by status, listing, killing, pings and trace
// lines of the activator. Processes are real where liveness needs one.

#include <gtest/gtest.h>

#include "activation/posix_activator.h"
#include "activation_support.h"
#include "platform/process.h"
#include "probe_support.h"
#include "support/status_text.h"

namespace talvo {
namespace {

using talvo::testing::eventually;
using talvo::testing::what;

class ActivatorTest : public ::testing::Test {
 protected:
  void add(const std::string& server, const std::string& marker,
           OptionalText principal, std::int32_t pid = 4242,
           LaunchStatus status = LaunchStatus::automaticLaunch,
           const std::string& port = "7601") {
    ASSERT_EQ(
        activator.registerActivation(server, marker, status, "xdr", "tcp", port,
                                     "7700", processIdBuffer(pid), principal),
        nullptr);
  }
  // A child of ours that has ended and been reaped.
  pid_t deadChild() {
    auto child = platform::spawnProcess(
        std::string(TALVO_LAUNCH_PROBE) + " " + dir.file("r") + " 0", {});
    EXPECT_TRUE(
        eventually([&] { return !platform::isChildRunning(child.pid); }));
    return child.pid;
  }

  testing::TraceCapture trace;
  testing::TempDir dir;
  testing::FakeRuntime runtime;
  testing::RecordingCheckpoint checkpoint;
  PosixActivator activator{runtime, &checkpoint};
};

// Round trips.

TEST_F(ActivatorTest, LookupIsExactFirstThenStoredPatterns) {
  add("bank", "*", std::nullopt, 11, LaunchStatus::automaticLaunch, "7601");
  add("shop", "o[!b]j1", std::nullopt);
  EXPECT_EQ(activator.getLaunchRecord("bank", "obj1", {})->port, "7601");
  EXPECT_TRUE(trace.hasLineStarting(" found match code xdr"));
  EXPECT_EQ(activator.getLaunchRecord("shop", "obj1", {}), nullptr);
  // A registration that a stored pattern matches re-uses that record.
  add("bank", "obj1", std::nullopt, 12, LaunchStatus::manualLaunch, "7602");
  EXPECT_TRUE(trace.hasLine("    re-use old launch record "));
  EXPECT_EQ(activator.size(), 2u);
  EXPECT_EQ(activator.getLaunchRecord("bank", "x", {})->processId(), 12);
  // An exact key stored later still wins over the pattern.
  activator.deleteActivation("bank", "*", {});
  add("bank", "obj1", std::nullopt, 13, LaunchStatus::automaticLaunch, "7603");
  add("bank", "*", std::nullopt, 14, LaunchStatus::automaticLaunch, "7604");
  trace.clear();
  EXPECT_EQ(activator.getLaunchRecord("bank", "obj1", {})->port, "7603");
  EXPECT_TRUE(trace.hasLineStarting(
      "Activator::getLaunchRecord found key bank|||obj1||| as: "));
}

TEST_F(ActivatorTest, ReuseReplacesValuesKeepsKeyAndRoundRobinCount) {
  add("bank", "*", std::string("*"), 5);  // bank|||*|||* matches bank|||x|||
  LaunchRecord* record = activator.getLaunchRecord("bank", "*", "*");
  record->roundRobinCount = 3;
  activator.registerActivation("bank", "x", LaunchStatus::manualLaunch, "c2",
                               "m2", "8000", "8001", processIdBuffer(6), {});
  EXPECT_EQ(activator.table().keys(), std::vector<std::string>{"bank|||*|||*"});
  EXPECT_EQ(record->roundRobinCount, 3u);
  EXPECT_EQ(record->iiopPort, "8001");
  EXPECT_FALSE(record->principal);  // none given: absent
  EXPECT_EQ(checkpoint.calls.back(),
            "registered bank x 6 4 m2 c2 8000 1 (none)");
}

TEST_F(ActivatorTest, UpdateAndDeleteTellTheCheckpointEvenWhenNothingFound) {
  add("bank", "*", std::nullopt, 7);
  EXPECT_TRUE(
      activator.updateActivation("bank", "o1", {}, LaunchStatus::inActive));
  EXPECT_EQ(activator.getLaunchRecord("bank", "o", {})->status,
            LaunchStatus::inActive);
  EXPECT_TRUE(activator.deleteActivation("bank", "o1", {}));
  EXPECT_FALSE(activator.deleteActivation("bank", "o1", {}));
  EXPECT_EQ(activator.size(), 0u);
  EXPECT_EQ(checkpoint.calls,
            (std::vector<std::string>{
                "registered bank * 7 4 tcp xdr 7601 2 (none)",
                "updated bank o1 (none) 0", "deleted bank o1 (none)",
                "deleted bank o1 (none)"}));
  EXPECT_TRUE(trace.hasLine(" Activator::deleteActivation lookup bank"));
}

TEST_F(ActivatorTest, ManualServerAliveWhileItsChannelReportsItsPid) {
  add("bank", "*", std::nullopt, 321, LaunchStatus::manualLaunch);
  EXPECT_EQ(activator.isServerAlive("bank", "*", {}), nullptr);  // no channel
  runtime.channels[{"bank", "*", "otherhost"}] = 321;
  runtime.channels[{"bank", "*", runtime.host}] = 999;
  EXPECT_EQ(activator.isServerAlive("bank", "*", {}), nullptr);  // other pid
  runtime.channels[{"bank", "*", runtime.host}] = 321;
  EXPECT_NE(activator.isServerAlive("bank", "*", {}), nullptr);
  add("idle", "", std::nullopt, ::getpid(), LaunchStatus::inActive);
  EXPECT_EQ(activator.isServerAlive("idle", "", {}), nullptr);
}

TEST_F(ActivatorTest, ListActiveShowsLiveProcessesAndDropsDeadNumericOnes) {
  pid_t dead = deadChild();
  pid_t self = platform::spawnProcess("sleep 30", {}).pid;  // alive
  add("bank", "obj1", std::string("1234"), self);
  add("bank", "obj2", std::string("alice"), self);
  add("shop", "", std::string("77"), dead);
  add("shop", "b", std::string("78"), dead);
  add("shop", "c", std::string("bob"), dead);
  std::vector<ServerDetails> list;
  ASSERT_EQ(activator.listActive(list), nullptr);
  // Numeric principals are shown empty; the order is the walk order.
  std::vector<std::string> listed, expected;
  for (auto& d : list) listed.push_back(d.marker + "/" + d.principal);
  for (const std::string& key : activator.table().keys()) {
    auto parts = splitLaunchKey(key);
    if (parts.server == "bank") {
      expected.push_back(*parts.marker + "/" +
                         (*parts.principal == "1234" ? "" : *parts.principal));
    }
  }
  EXPECT_EQ(listed, expected);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].osSpecific, static_cast<std::uint32_t>(self));
  EXPECT_EQ(list[0].code + list[0].comms + list[0].port, "xdrtcp7601");
  // The dead records with numeric principals went; the user name stays.
  EXPECT_EQ(activator.size(), 3u);
  EXPECT_NE(activator.table().find("shop|||c|||bob"), nullptr);
  platform::killChildAndWait(self);
}

TEST_F(ActivatorTest, PingObjectAsksTheRunTimeAndTracesFailures) {
  EXPECT_TRUE(activator.pingObject("bank", "obj1"));
  EXPECT_EQ(
      runtime.pings.at(0),
      std::make_tuple(runtime.host, std::string("bank"), std::string("obj1")));
  runtime.nextPingError = fail<CORBA::COMM_FAILURE>(10080, "bank");
  trace.clear();
  EXPECT_FALSE(activator.pingObject("bank", "obj1"));
  EXPECT_FALSE(trace.lines().empty());
  EXPECT_FALSE(activator.pingServer());
}

// Error paths.

TEST_F(ActivatorTest, KillServerRefusals) {
  add("bank", "*", std::nullopt, ::getpid());
  EXPECT_EQ(what(activator.killServer("", "m1", {})),
            "BAD_OPERATION 10241 |||m1|||");
  EXPECT_EQ(what(activator.killServer("shop", "m1", {})),
            "BAD_OPERATION 10244 shop");
  EXPECT_EQ(activator.size(), 1u);
  EXPECT_TRUE(trace.hasLine(" Activator::killServer "));
}

TEST_F(ActivatorTest, KillOfEndedOrUnknownProcessSignalsNobody) {
  // A reaped child's id may be reused, and a record without a process id
  // must not become kill(0): neither is signalled, both records go.
  add("bank", "", std::nullopt, deadChild());
  activator.registerActivation("odd", "", LaunchStatus::automaticLaunch, "", "",
                               "", "", {}, std::nullopt);
  EXPECT_EQ(activator.killServer("bank", "", {}), nullptr);
  EXPECT_EQ(activator.killServer("odd", "", {}), nullptr);
  EXPECT_EQ(activator.size(), 0u);
  EXPECT_TRUE(trace.hasLine(" got launch record after removal? none"));
}

}  // namespace
}  // namespace talvo
