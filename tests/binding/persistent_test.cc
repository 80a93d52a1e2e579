// Persistent servers: registration with and without a record, refusal while
// the registered process lives, and binding to a registered server.

#include "binding_support.h"

namespace talvo {
namespace {

using testing::BindingTest;

class PersistentTest : public BindingTest {
 protected:
  // Starts a process by hand that stands for a persistent server holding
  // an open channel to the daemon as `server`.
  std::int32_t startByHand(const std::string& server) {
    platform::SpawnResult child =
        platform::spawnProcess(probe(server + "-hand"), {});
    EXPECT_TRUE(child.ok());
    runtime.connected[server] = child.pid;
    return child.pid;
  }
  Status registerServer(const std::string& server, std::int32_t pid,
                        PersistentServerDetails* out, bool ups = false) {
    return service(ups).registerPersistentServer(
        {"alice", 4}, server, static_cast<std::uint32_t>(pid), out);
  }
};

// Round trips.

TEST_F(PersistentTest, RegisteredServerIsAnsweredInsteadOfLaunched) {
  shared("bank", {{"*", probe("bank")}}, imprep::kPlain, 1, 0, false);
  std::int32_t pid = startByHand("bank");
  PersistentServerDetails reg;
  ASSERT_EQ(what(registerServer("bank", pid, &reg)), "success");
  EXPECT_EQ(reg.codeProtocol, "xdr");
  EXPECT_EQ(reg.commsProtocol, "tcp");
  EXPECT_EQ(std::stoi(reg.commsPort), ports->last());
  EXPECT_TRUE(
      trace.hasLine("[talvod: Registering Persistent Server bank"
                    "(pid = " +
                    std::to_string(pid) + ") ]"));
  LaunchRecord* record = activator.getLaunchRecord("bank", "*", {});
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->status, LaunchStatus::manualLaunch);
  EXPECT_EQ(record->processId(), pid);
  EXPECT_EQ(record->iiopPort, "0");

  ImplementationDetails d;
  ASSERT_EQ(what(bind("bank", "anything", &d)), "success");
  EXPECT_EQ(d.commsPort, reg.commsPort);
  IIOPDetails iiop;  // "xdr": the recorded IIOP port
  ASSERT_EQ(service().getIIOPDetails({}, "bank", "x", "", &iiop), nullptr);
  EXPECT_EQ(iiop.iiopPort, "0");
  EXPECT_EQ(testing::childProcesses().size(), 1u);  // nothing launched
}

TEST_F(PersistentTest, RefusedWhileAliveAcceptedOnceDead) {
  shared("bank", {{"*", probe("bank")}});
  std::int32_t first = startByHand("bank");
  PersistentServerDetails reg;
  ASSERT_EQ(what(registerServer("bank", first, &reg)), "success");
  std::int32_t second = startByHand("bank2");  // no channel as "bank"
  EXPECT_EQ(what(registerServer("bank", second, &reg)),
            "BAD_OPERATION 10243 bank");
  EXPECT_EQ(pidOf("bank", "*"), first);

  platform::killChildAndWait(first);  // its channel closes with it
  runtime.connected["bank"] = second;
  PersistentServerDetails again;
  ASSERT_EQ(what(registerServer("bank", second, &again)), "success");
  EXPECT_EQ(pidOf("bank", "*"), second);
  EXPECT_EQ(activator.size(), 1u);
  EXPECT_NE(again.commsPort, reg.commsPort);
}

TEST_F(PersistentTest, WellKnownPortTakesNothingFromTheAllocator) {
  shared("fixed", {{"*", probe("fixed")}}, imprep::kPlain, 1, 7701);
  PersistentServerDetails reg;
  ASSERT_EQ(what(registerServer("fixed", startByHand("fixed"), &reg)),
            "success");
  EXPECT_EQ(reg.commsPort, "7701");
  EXPECT_EQ(ports->last(), portBase());  // untouched
}

TEST_F(PersistentTest, UnregisteredPersistentServersFollowUps) {
  std::int32_t pid = startByHand("free");
  PersistentServerDetails reg;
  // Off: the repository's answer for a missing record.
  Status off = registerServer("free", pid, &reg, false);
  ASSERT_NE(off, nullptr);
  EXPECT_EQ(off->minor(), 10241u);
  EXPECT_EQ(activator.size(), 0u);

  // On: registered with the default protocols, then found by binding.
  ImplementationDetails d;
  EXPECT_EQ(
      service(true).getImplementationDetails({}, "free", "m", "", &d)->minor(),
      10241u);  // not registered yet
  ASSERT_EQ(what(registerServer("free", pid, &reg, true)), "success");
  EXPECT_EQ(reg.codeProtocol, "cdr");
  EXPECT_EQ(reg.commsProtocol, "tcp");
  EXPECT_TRUE(
      trace.hasLine("[talvod: Unregistered Persistent Server "
                    "activation free(pid = " +
                    std::to_string(pid) + ") ]"));
  ServerDetailsReply reply;
  ASSERT_EQ(service(true).serverDetails({}, "free", "m", "", &reply), nullptr);
  EXPECT_EQ(reply.activationPolicy, "shared");
  EXPECT_EQ(reply.commsPort, reg.commsPort);
  EXPECT_EQ(reply.iiopPort, reg.commsPort);
  EXPECT_EQ(reply.codeProtocol, "cdr");
  // A second one while alive is refused; UPS off again hides it.
  EXPECT_EQ(what(registerServer("free", pid, &reg, true)),
            "BAD_OPERATION 10243 free");
  EXPECT_EQ(service(false).serverDetails({}, "free", "m", "", &reply)->minor(),
            10241u);
}

// Error paths.

TEST_F(PersistentTest, OnlySharedServersRegister) {
  ASSERT_EQ(repository->createUnshared("owner", "uns", {{"*", probe("u")}},
                                       imprep::kPlain, false),
            nullptr);
  ASSERT_EQ(
      repository->createPerMethod("owner", "pm", {{"m", probe("p")}}, false),
      nullptr);
  PersistentServerDetails reg;
  EXPECT_EQ(what(registerServer("uns", 1, &reg, true)),
            "BAD_OPERATION 10245 uns");
  EXPECT_EQ(what(registerServer("pm", 1, &reg, true)),
            "BAD_OPERATION 10245 pm");
  EXPECT_EQ(activator.size(), 0u);
}

}  // namespace
}  // namespace talvo
