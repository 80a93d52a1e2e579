// The activator's table operations, liveness by status, listing, killing,
// pings and trace lines. Processes are real where liveness needs one.

#include <gtest/gtest.h>

#include "activation/posix_activator.h"
#include "activation_support.h"
#include "platform/process.h"
#include "probe_support.h"

namespace talvo {
namespace {

using talvo::testing::FakeRuntime;
using talvo::testing::RecordingCheckpoint;
using talvo::testing::TempDir;
using talvo::testing::TraceCapture;

class ActivatorTest : public ::testing::Test {
 protected:
  Status add(const std::string& server, const std::string& marker,
             OptionalText principal, std::int32_t pid = 4242,
             LaunchStatus status = LaunchStatus::automaticLaunch,
             const std::string& port = "7601") {
    return activator.registerActivation(server, marker, status, "xdr", "tcp",
                                        port, "7700", processIdBuffer(pid),
                                        principal);
  }

  // A process of ours that has ended and been reaped.
  pid_t deadChild() {
    platform::SpawnResult child = platform::spawnProcess(
        std::string(TALVO_LAUNCH_PROBE) + " " + dir.file("r") + " 0", {});
    EXPECT_TRUE(child.ok());
    EXPECT_TRUE(talvo::testing::eventually(
        [&] { return !platform::isChildRunning(child.pid); }));
    return child.pid;
  }

  TraceCapture trace;
  TempDir dir;
  FakeRuntime runtime;
  RecordingCheckpoint checkpoint;
  PosixActivator activator{runtime, &checkpoint};
};

// Round trips.

TEST_F(ActivatorTest, RegisterThenLookUpExactlyAndByPattern) {
  ASSERT_EQ(
      add("bank", "*", std::nullopt, 11, LaunchStatus::automaticLaunch, "7601"),
      nullptr);
  LaunchRecord* byPattern = activator.getLaunchRecord("bank", "obj1", {});
  ASSERT_NE(byPattern, nullptr);
  EXPECT_EQ(byPattern->port, "7601");
  EXPECT_TRUE(trace.hasLineStarting(" found match "));

  ASSERT_EQ(add("bank", "obj1", std::nullopt, 12, LaunchStatus::automaticLaunch,
                "7602"),
            nullptr);
  // The registration was absorbed by bank|||*|||: still one record.
  EXPECT_EQ(activator.size(), 1u);
  EXPECT_EQ(activator.table().keys(), std::vector<std::string>{"bank|||*|||"});
  EXPECT_EQ(activator.getLaunchRecord("bank", "obj1", {})->processId(), 12);
  EXPECT_TRUE(trace.hasLine("    re-use old launch record "));
}

TEST_F(ActivatorTest, ExactKeyBeatsEarlierPattern) {
  activator.registerActivation("bank", "obj1", LaunchStatus::automaticLaunch,
                               "xdr", "tcp", "7602", "", processIdBuffer(2),
                               {});
  // Inserted after the exact key, so no absorption the other way round.
  add("bank", "*", std::nullopt, 1, LaunchStatus::automaticLaunch, "7601");
  EXPECT_EQ(activator.size(), 2u);
  trace.clear();
  LaunchRecord* found = activator.getLaunchRecord("bank", "obj1", {});
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->port, "7602");
  EXPECT_TRUE(trace.hasLineStarting(
      "Activator::getLaunchRecord found key bank|||obj1||| as: "));
  EXPECT_EQ(activator.getLaunchRecord("bank", "obj2", {})->port, "7601");
  EXPECT_EQ(activator.getLaunchRecord("shop", "obj1", {}), nullptr);
}

TEST_F(ActivatorTest, ReuseReplacesValuesAndKeepsRoundRobinCount) {
  // Stored under bank|||*|||*, which as a pattern matches bank|||x|||.
  add("bank", "*", std::string("*"), 5);
  LaunchRecord* record = activator.getLaunchRecord("bank", "*", "*");
  ASSERT_NE(record, nullptr);
  record->roundRobinCount = 3;
  activator.registerActivation("bank", "x", LaunchStatus::manualLaunch, "c2",
                               "m2", "8000", "8001", processIdBuffer(6),
                               std::nullopt);
  EXPECT_EQ(activator.size(), 1u);
  EXPECT_EQ(record->roundRobinCount, 3u);
  EXPECT_EQ(record->processId(), 6);
  EXPECT_EQ(record->code, "c2");
  EXPECT_EQ(record->iiopPort, "8001");
  EXPECT_EQ(record->status, LaunchStatus::manualLaunch);
  EXPECT_FALSE(record->principal);  // none given: absent
  EXPECT_EQ(activator.table().keys(), std::vector<std::string>{"bank|||*|||*"});
  EXPECT_EQ(checkpoint.calls.back(),
            "registered bank x 6 4 m2 c2 8000 1 (none)");
}

TEST_F(ActivatorTest, UpdateAndDeleteTellTheCheckpoint) {
  add("bank", "*", std::nullopt, 7);
  EXPECT_TRUE(
      activator.updateActivation("bank", "obj1", {}, LaunchStatus::inActive));
  EXPECT_EQ(activator.getLaunchRecord("bank", "x", {})->status,
            LaunchStatus::inActive);
  EXPECT_FALSE(
      activator.updateActivation("shop", "x", {}, LaunchStatus::inActive));
  EXPECT_TRUE(activator.deleteActivation("bank", "obj1", {}));
  EXPECT_EQ(activator.size(), 0u);
  EXPECT_FALSE(activator.deleteActivation("bank", "obj1", {}));
  EXPECT_EQ(checkpoint.calls,
            (std::vector<std::string>{
                "registered bank * 7 4 tcp xdr 7601 2 (none)",
                "updated bank obj1 (none) 0", "updated shop x (none) 0",
                "deleted bank obj1 (none)", "deleted bank obj1 (none)"}));
  EXPECT_TRUE(trace.hasLine(" Activator::deleteActivation lookup bank"));
  EXPECT_TRUE(trace.hasLine(" Activator::updateActivation "));
}

TEST_F(ActivatorTest, ManualServerAliveWhileItsChannelReportsItsPid) {
  add("bank", "*", std::nullopt, 321, LaunchStatus::manualLaunch);
  EXPECT_EQ(activator.isServerAlive("bank", "*", {}), nullptr);  // no channel
  runtime.channels[{"bank", "*", runtime.host}] = 999;
  EXPECT_EQ(activator.isServerAlive("bank", "*", {}), nullptr);  // other pid
  runtime.channels[{"bank", "*", "otherhost"}] = 321;
  EXPECT_EQ(activator.isServerAlive("bank", "*", {}), nullptr);  // other host
  runtime.channels[{"bank", "*", runtime.host}] = 321;
  EXPECT_NE(activator.isServerAlive("bank", "*", {}), nullptr);
  EXPECT_EQ(activator.size(), 1u);
}

TEST_F(ActivatorTest, DeadAutomaticServerDroppedOnlyWithNumericPrincipal) {
  pid_t pid = deadChild();
  add("bank", "", std::string("1234"), pid);
  add("bank", "", std::string("alice"), pid);
  EXPECT_EQ(activator.isServerAlive("bank", "", "alice"), nullptr);
  EXPECT_EQ(activator.size(), 2u);  // a user name keeps its record
  EXPECT_EQ(activator.isServerAlive("bank", "", "1234"), nullptr);
  EXPECT_EQ(activator.size(), 1u);
  EXPECT_EQ(activator.getLaunchRecord("bank", "", "1234"), nullptr);
}

TEST_F(ActivatorTest, ListActiveShowsLiveProcessesAndSurvivesRemovals) {
  pid_t dead = deadChild();
  pid_t self = ::getpid();  // alive, and not our child
  add("bank", "obj1", std::string("1234"), self);
  add("bank", "obj2", std::string("alice"), self);
  add("shop", "", std::string("77"), dead);
  add("shop", "b", std::string("78"), dead);
  add("idle", "", std::nullopt, self, LaunchStatus::inActive);
  std::vector<ServerDetails> list;
  ASSERT_EQ(activator.listActive(list), nullptr);
  ASSERT_EQ(list.size(), 2u);
  std::map<std::string, ServerDetails> byMarker;
  for (auto& d : list) byMarker[d.marker] = d;
  EXPECT_EQ(byMarker["obj1"].principal, "");  // numeric: shown empty
  EXPECT_EQ(byMarker["obj2"].principal, "alice");
  EXPECT_EQ(byMarker["obj1"].OSspecific, static_cast<std::uint32_t>(self));
  EXPECT_EQ(byMarker["obj1"].code, "xdr");
  EXPECT_EQ(byMarker["obj1"].comms, "tcp");
  EXPECT_EQ(byMarker["obj1"].port, "7601");
  EXPECT_EQ(byMarker["obj1"].status, LaunchStatus::automaticLaunch);
  EXPECT_EQ(activator.size(), 3u);  // both dead numeric records removed
  // The order of the listing is the walk order of the table.
  std::vector<std::string> listed, expected;
  for (auto& d : list) listed.push_back(d.marker);
  for (const std::string& key : activator.table().keys()) {
    LaunchKeyParts parts = splitLaunchKey(key);
    if (parts.server == "bank") expected.push_back(parts.marker.value_or(""));
  }
  EXPECT_EQ(listed, expected);
}

TEST_F(ActivatorTest, PingObjectAsksTheRunTimeForThisHost) {
  EXPECT_TRUE(activator.pingObject("bank", "obj1"));
  ASSERT_EQ(runtime.pings.size(), 1u);
  EXPECT_EQ(runtime.pings[0], std::make_tuple(runtime.host, std::string("bank"),
                                              std::string("obj1")));
  runtime.nextPingError = fail<CORBA::COMM_FAILURE>(10080, "bank");
  trace.clear();
  EXPECT_FALSE(activator.pingObject("bank", "obj1"));
  EXPECT_FALSE(trace.lines().empty());  // the exception went to the trace
  EXPECT_FALSE(activator.pingServer());
}

TEST_F(ActivatorTest, ArgumentsAreWordsBetweenBlanks) {
  EXPECT_EQ(Activator::countArguments("  srv  -a b "), 3u);
  EXPECT_EQ(Activator::countArguments(""), 0u);
  EXPECT_EQ(Activator::splitArguments("srv -a"),
            (std::vector<std::string>{"srv", "-a"}));
}

// Error paths.

TEST_F(ActivatorTest, KillServerRefusesEmptyNameAndUnknownServer) {
  add("bank", "*", std::nullopt, ::getpid());
  Status error = activator.killServer("", "m1", {});
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->bareName(), "BAD_OPERATION");
  EXPECT_EQ(error->minor(), 10241u);
  EXPECT_EQ(error->detail(), "|||m1|||");
  EXPECT_TRUE(trace.hasLine(" Activator::killServer "));

  error = activator.killServer("shop", "m1", {});
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->minor(), 10244u);
  EXPECT_EQ(error->completed(), CORBA::COMPLETED_NO);
  EXPECT_EQ(error->detail(), "shop");
  EXPECT_EQ(activator.size(), 1u);
}

TEST_F(ActivatorTest, KillOfEndedProcessRemovesRecordWithoutSignal) {
  // The process id of a reaped child must not be signalled (it may be
  // reused); the record goes all the same.
  pid_t dead = deadChild();
  add("bank", "", std::nullopt, dead);
  EXPECT_EQ(activator.killServer("bank", "", {}), nullptr);
  EXPECT_EQ(activator.size(), 0u);
  EXPECT_TRUE(trace.hasLine(" got launch record after removal? none"));
}

TEST_F(ActivatorTest, InactiveAndUnreadableRecordsAreNotAlive) {
  add("idle", "", std::nullopt, ::getpid(), LaunchStatus::inActive);
  EXPECT_EQ(activator.isServerAlive("idle", "", {}), nullptr);
  activator.registerActivation("odd", "", LaunchStatus::automaticLaunch, "", "",
                               "", "", {}, std::nullopt);  // no pid
  EXPECT_EQ(activator.isServerAlive("odd", "", {}), nullptr);
  EXPECT_EQ(activator.killServer("odd", "", {}), nullptr);  // signals nobody
  EXPECT_EQ(activator.isServerAlive("none", "", {}), nullptr);
}

}  // namespace
}  // namespace talvo
