// The server details request with real processes: launching, answering
// from a running process, rights, per-client modes, ports and failures.

#include "binding_support.h"

namespace talvo {
namespace {

using imprep::LaunchEntry;
using ServerDetailsTest = testing::BindingTest;

// Round trips.

TEST_F(ServerDetailsTest, LaunchesOnceThenAnswersFromTheRunningProcess) {
  shared("bank", {{"*", probe("bank")}});  // cdr
  ImplementationDetails first;
  ASSERT_EQ(what(bind("bank", "acct1", &first)), "success");
  EXPECT_EQ(first.codeProtocol, "xdr");  // whatever the record says
  EXPECT_EQ(first.commsProtocol, "tcp");
  EXPECT_EQ(first.activationPolicy, "shared");
  int port = std::stoi(first.commsPort);
  EXPECT_GE(port, portBase());
  EXPECT_LT(port, portBase() + 50);
  EXPECT_TRUE(trace.hasLine("   Server not active, try launching it "));
  EXPECT_TRUE(trace.hasLine(" QV_SERVER_MARKER *"));
  EXPECT_TRUE(trace.hasLine(" QV_MARKER_PATTERN *"));
  EXPECT_TRUE(trace.hasLine("[talvod: Dynamically assigning internet port " +
                            first.commsPort + " ]"));

  // The child got the ports of the reply; the "*" entry makes the
  // requested marker "*".
  auto seen = testing::waitForReport(dir.file("bank"));
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->env["QV_SERVER_PORT"], first.commsPort);
  EXPECT_EQ(seen->env["QV_SERVER_MARKER"], "*");
  EXPECT_EQ(seen->env["QV_SERVER_CODE"], "cdr");
  EXPECT_EQ(activator.table().keys(), std::vector<std::string>{"bank|||*|||"});
  EXPECT_EQ(pidOf("bank", "*"), seen->pid);

  // Later requests, other markers too, reach the same process.
  trace.clear();
  ImplementationDetails again;
  ASSERT_EQ(what(bind("bank", "acct2", &again)), "success");
  EXPECT_EQ(again.commsPort, first.commsPort);
  EXPECT_TRUE(trace.hasLine("    yes, it isActive "));
  EXPECT_EQ(activator.size(), 1u);
  EXPECT_EQ(testing::childProcesses().size(), 1u);

  // For "cdr" the IIOP port is the comms port.
  IIOPDetails iiop;
  ASSERT_EQ(service().getIIOPDetails({"alice", {}}, "bank", "acct1", "", &iiop),
            nullptr);
  EXPECT_EQ(iiop.iiopPort, first.commsPort);
  EXPECT_EQ(iiop.activationPolicy, "shared");
  EXPECT_TRUE(trace.hasLine(" getIIOPDetails bank acct1 "));
}

TEST_F(ServerDetailsTest, XdrServerHasASeparateIiopPort) {
  shared("legacy", {{"obj?", probe("legacy")}}, imprep::kPlain, 1, 0, false);
  IIOPDetails iiop;
  ASSERT_EQ(
      service().getIIOPDetails({"alice", {}}, "legacy", "obj1", "", &iiop),
      nullptr);
  ServerDetailsReply reply;
  ASSERT_EQ(
      service().serverDetails({"alice", {}}, "legacy", "obj2", "", &reply),
      nullptr);
  EXPECT_EQ(reply.codeProtocol, "xdr");
  EXPECT_EQ(reply.iiopPort, iiop.iiopPort);
  EXPECT_NE(reply.iiopPort, reply.commsPort);
  auto seen = testing::waitForReport(dir.file("legacy"));
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->env["QV_IIOP_PORT"], iiop.iiopPort);
  // The pattern entry keeps the requested marker for the launch.
  EXPECT_EQ(seen->env["QV_SERVER_MARKER"], "obj1");
  EXPECT_EQ(seen->env["QV_MARKER_PATTERN"], "obj?");
}

TEST_F(ServerDetailsTest, WellKnownPortIsTheCommsPort) {
  shared("fixed", {{"*", probe("fixed")}}, imprep::kPlain, 1, 7777, false);
  ServerDetailsReply reply;
  ASSERT_EQ(service().serverDetails({}, "fixed", "m", "", &reply), nullptr);
  EXPECT_EQ(reply.commsPort, "7777");
  EXPECT_TRUE(
      trace.hasLine("[talvod: Dynamically assigning internet port "
                    "7777 ]"));
  EXPECT_EQ(ports->last(), std::stoi(reply.iiopPort));  // only the IIOP port
}

TEST_F(ServerDetailsTest, PerClientServersKeepOneProcessPerPrincipal) {
  shared("priv", {{"*", probe("priv")}}, imprep::kPrivate);
  ImplementationDetails alice, bob, alice2;
  ASSERT_EQ(what(bind("priv", "x", &alice, "alice")), "success");
  ASSERT_EQ(what(bind("priv", "x", &bob, "bob")), "success");
  ASSERT_EQ(what(bind("priv", "x", &alice2, "alice")), "success");
  EXPECT_NE(alice.commsPort, bob.commsPort);
  EXPECT_EQ(alice2.commsPort, alice.commsPort);
  EXPECT_EQ(activator.size(), 2u);
  EXPECT_NE(pidOf("priv", "*", "alice"), 0);
  EXPECT_NE(pidOf("priv", "*", "bob"), pidOf("priv", "*", "alice"));
  EXPECT_EQ(testing::childProcesses().size(), 2u);
  // Without a connection the daemon's own user asks.
  ImplementationDetails own;
  ASSERT_EQ(service().getImplementationDetails({}, "priv", "x", "", &own),
            nullptr);
  EXPECT_NE(pidOf("priv", "*", "daemonuser"), 0);
}

TEST_F(ServerDetailsTest, PerClientPidStartsANewProcessForEveryRequest) {
  shared("pp", {{"*", probe("pp")}}, imprep::kPrivatePerPid);
  std::set<std::string> seenPorts;
  for (int i = 0; i < 3; ++i) {
    ImplementationDetails d;
    ASSERT_EQ(what(bind("pp", "x", &d)), "success");
    seenPorts.insert(d.commsPort);
  }
  EXPECT_EQ(seenPorts.size(), 3u);
  std::vector<pid_t> children = testing::childProcesses();
  ASSERT_EQ(children.size(), 3u);
  // The principal of each record is its child's process id.
  for (pid_t pid : children) {
    EXPECT_NE(activator.getLaunchRecord("pp", "*", std::to_string(pid)),
              nullptr);
  }
}

TEST_F(ServerDetailsTest, DeadServerIsLaunchedAgainUnderTheSameRecord) {
  shared("bank", {{"*", probe("bank")}});
  ImplementationDetails first, second;
  ASSERT_EQ(what(bind("bank", "a", &first)), "success");
  std::int32_t oldPid = pidOf("bank", "*");
  platform::killChildAndWait(oldPid);
  ASSERT_EQ(what(bind("bank", "a", &second)), "success");
  EXPECT_NE(second.commsPort, first.commsPort);
  EXPECT_NE(pidOf("bank", "*"), oldPid);
  EXPECT_EQ(activator.size(), 1u);
}

TEST_F(ServerDetailsTest, UnsharedAndPerMethodProcessKeys) {
  ASSERT_EQ(repository->createUnshared("owner", "uns", {{"obj*", probe("uns")}},
                                       imprep::kPlain, false),
            nullptr);
  allowAll("uns");
  ImplementationDetails a, b, a2;
  ASSERT_EQ(what(bind("uns", "obj1", &a)), "success");
  ASSERT_EQ(what(bind("uns", "obj2", &b)), "success");
  ASSERT_EQ(what(bind("uns", "obj1", &a2)), "success");
  EXPECT_EQ(a.activationPolicy, "unshared");
  EXPECT_NE(a.commsPort, b.commsPort);
  EXPECT_EQ(a2.commsPort, a.commsPort);
  EXPECT_NE(pidOf("uns", "obj1"), 0);
  EXPECT_NE(pidOf("uns", "obj2"), 0);

  ASSERT_EQ(repository->createPerMethod("owner", "pm",
                                        {{"deposit", probe("pm")}}, false),
            nullptr);
  allowAll("pm");
  ImplementationDetails m;
  ASSERT_EQ(what(bind("pm", "any", &m, "alice", "deposit")), "success");
  EXPECT_EQ(m.activationPolicy, "per_method");
  EXPECT_EQ(activator.size(), 2u);  // a per-method process is not recorded
  auto seen = testing::waitForReport(dir.file("pm"));
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->env["QV_SERVER_METHOD"], "deposit");
  EXPECT_EQ(seen->env["QV_MARKER_PATTERN"], "QV_nullMarker");
}

// Rights.

TEST_F(ServerDetailsTest, RunningServerNeedsNoLaunchRights) {
  shared("bank", {{"*", probe("bank")}}, imprep::kPlain, 1, 0, true, false);
  ASSERT_EQ(repository->addInvokeRights("owner", "carol", "bank"), nullptr);
  ImplementationDetails d;
  EXPECT_EQ(what(bind("bank", "a", &d, "carol")), "NO_PERMISSION 10122 bank");
  EXPECT_EQ(activator.size(), 0u);
  ASSERT_EQ(what(bind("bank", "a", &d, "owner")), "success");
  ImplementationDetails c;
  ASSERT_EQ(what(bind("bank", "a", &c, "carol")), "success");
  EXPECT_EQ(c.commsPort, d.commsPort);
  // Without invoke rights nothing is answered.
  EXPECT_EQ(what(bind("bank", "a", &c, "dave")), "NO_PERMISSION 10121 bank");
}

// Error paths: nothing launched, nothing recorded.

TEST_F(ServerDetailsTest, LookupFailures) {
  shared("bank", {{"acct?", probe("bank")}});
  ASSERT_EQ(repository->createPerMethod("owner", "pm",
                                        {{"deposit", probe("pm")}}, false),
            nullptr);
  allowAll("pm");
  ImplementationDetails d;
  EXPECT_EQ(what(bind("bank", "loan1", &d)), "BAD_OPERATION 10246 loan1");
  EXPECT_EQ(what(bind("pm", "x", &d, "alice", "withdraw")),
            "BAD_OPERATION 10247 withdraw");
  Status missing = bind("nosuch", "x", &d);
  ASSERT_NE(missing, nullptr);
  EXPECT_EQ(missing->minor(), 10241u);
  EXPECT_TRUE(trace.hasLine("[talvod: Error in implementation repository ]"));
  EXPECT_EQ(what(bind("../escape", "x", &d)).substr(0, 15), "BAD_PARAM 10032");
  EXPECT_EQ(activator.size(), 0u);
  EXPECT_TRUE(testing::childProcesses().empty());
}

TEST_F(ServerDetailsTest, NoFreePortGivesImpLimit) {
  shared("bank", {{"*", probe("bank")}});
  ports = std::make_unique<PortAllocator>(nullptr, nullptr);  // no range
  BindingService noPorts(*repository, activator, *ports, options());
  ImplementationDetails d;
  EXPECT_EQ(what(noPorts.getImplementationDetails({}, "bank", "a", "", &d)),
            "IMP_LIMIT 10061 ");
  EXPECT_TRUE(testing::childProcesses().empty());
}

// Diagnostics.

TEST_F(ServerDetailsTest, RequestLineAndRememberedRequester) {
  shared("bank", {{"acct*", probe("bank")}});
  ImplementationDetails d;
  ASSERT_EQ(service().getImplementationDetails({"alice", 5}, "bank", "acct1",
                                               "m", &d),
            nullptr);
  EXPECT_TRUE(
      trace.hasLine("[talvod: Processing Server Details request :  "
                    "bank/acct1/m(alice) ]"));
  EXPECT_TRUE(trace.hasLine(" fd: 5"));
  EXPECT_FALSE(trace.hasLineStarting("   Shutting down getimp fd:"));
  ASSERT_EQ(
      service().getImplementationDetails({"bob", 9}, "bank", "acct1", "", &d),
      nullptr);
  EXPECT_TRUE(trace.hasLine("   Shutting down getimp fd:5"));
  EXPECT_EQ(service().latestRequester(), 9);
}

}  // namespace
}  // namespace talvo
