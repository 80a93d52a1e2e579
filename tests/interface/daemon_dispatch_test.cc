// The daemon's operations driven through the request dispatcher with
// request bodies, against a temporary repository.

#include <gtest/gtest.h>

#include "daemon_fixture.h"

namespace talvo::interface {
namespace {

class DaemonDispatchTest : public DaemonTest {
 protected:
  void SetUp() override {
    DaemonTest::SetUp();
    start();
  }
  Reply newShared(const std::string& name) {
    return call("newSharedServer",
                {S(name), L({"m1", "m*"}), L({"srv1 -a", "srvall"}), U(0)});
  }
};

// --- round trips -------------------------------------------------------------

TEST_F(DaemonDispatchTest, CreateReadListDelete) {
  ASSERT_TRUE(newShared("bank").ok());
  Reply exists = call("serverExists", {S("bank")});
  ASSERT_TRUE(exists.ok());
  EXPECT_EQ(exists.result, B(true));

  Reply g = call("getServer", {S("bank")});
  ASSERT_TRUE(g.ok()) << g.name();
  EXPECT_EQ(g.args[1].text(), "tcp");  // comms
  EXPECT_EQ(g.args[2].text(), "cdr");  // code
  EXPECT_EQ(g.args[3].text(), "shared");
  EXPECT_EQ(g.args[4], U(0));
  EXPECT_EQ(g.args[5].text(), "alice");
  EXPECT_EQ(g.strings(8).size(), 2u);  // markers
  EXPECT_TRUE(g.strings(9).empty());   // methods
  ASSERT_EQ(g.strings(10).size(), 2u);
  // Commands pair with markers in the same order.
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(g.strings(10)[i], g.strings(8)[i] == "m1" ? "srv1 -a" : "srvall");
  }

  Reply list = call("listServers", {S("")});
  ASSERT_TRUE(list.ok());
  EXPECT_EQ(list.strings(1), std::vector<std::string>{"bank"});

  ASSERT_TRUE(call("deleteServer", {S("bank")}).ok());
  EXPECT_EQ(call("serverExists", {S("bank")}).result, B(false));
}

TEST_F(DaemonDispatchTest, SharedServer2CarriesCountAndPort) {
  ASSERT_TRUE(call("newSharedServer2", {S("rr"), L({"x"}), L({"cmd"}), U(3),
                                        U(4), Value::ofLong(7650)})
                  .ok());
  Reply g2 = call("getServer2", {S("rr")});
  ASSERT_TRUE(g2.ok()) << g2.name();
  EXPECT_EQ(g2.args[4], U(3));
  EXPECT_EQ(g2.args[8], U(4));
  EXPECT_EQ(g2.args[9], U(7650));
  EXPECT_EQ(g2.strings(10), std::vector<std::string>{"x"});
}

TEST_F(DaemonDispatchTest, UnsharedAndPerMethodServers) {
  ASSERT_TRUE(
      call("newUnSharedServer", {S("u"), L({"m"}), L({"cmd"}), U(2)}).ok());
  Reply g = call("getServer", {S("u")});
  EXPECT_EQ(g.args[3].text(), "unshared");
  EXPECT_EQ(g.args[4], U(2));

  ASSERT_TRUE(call("newPerMethodServer",
                   {S("pm"), L({"deposit", "withdraw"}), L({"d", "w"})})
                  .ok());
  Reply g2 = call("getServer2", {S("pm")});
  ASSERT_TRUE(g2.ok());
  EXPECT_EQ(g2.args[3].text(), "per_method");
  EXPECT_EQ(g2.args[4], U(0));
  EXPECT_TRUE(g2.strings(10).empty());  // markers
  auto methods = g2.strings(11);
  std::sort(methods.begin(), methods.end());
  EXPECT_EQ(methods, (std::vector<std::string>{"deposit", "withdraw"}));
  EXPECT_EQ(g2.strings(12).size(), 2u);

  ASSERT_TRUE(call("addMethod", {S("pm"), S("audit"), S("a")}).ok());
  ASSERT_TRUE(call("removeMethod", {S("pm"), S("deposit")}).ok());
  methods = call("getServer2", {S("pm")}).strings(11);
  std::sort(methods.begin(), methods.end());
  EXPECT_EQ(methods, (std::vector<std::string>{"audit", "withdraw"}));
}

TEST_F(DaemonDispatchTest, MarkerEditsFollowTheRecordMode) {
  ASSERT_TRUE(newShared("bank").ok());
  ASSERT_TRUE(call("addMarker", {S("bank"), S("m2"), S("two")}).ok());
  ASSERT_TRUE(call("addSharedMarker", {S("bank"), S("m3"), S("three")}).ok());
  ASSERT_TRUE(call("removeMarker", {S("bank"), S("m1")}).ok());
  ASSERT_TRUE(call("removeSharedMarker", {S("bank"), S("m2")}).ok());
  auto markers = call("getServer", {S("bank")}).strings(8);
  std::sort(markers.begin(), markers.end());
  EXPECT_EQ(markers, (std::vector<std::string>{"m*", "m3"}));

  // The unshared-marker operations need an unshared record.
  Reply wrong = call("addUnsharedMarker", {S("bank"), S("m4"), S("four")});
  EXPECT_EQ(wrong.name(), "BAD_OPERATION");
  EXPECT_EQ(wrong.minor(), 10261u);
  EXPECT_EQ(call("removeUnsharedMarker", {S("bank"), S("m3")}).minor(), 10261u);
}

TEST_F(DaemonDispatchTest, DirectoriesOwnersAndRights) {
  ASSERT_TRUE(call("newDirectory", {S("branch")}).ok());
  ASSERT_TRUE(newShared("branch\\teller").ok());
  EXPECT_EQ(call("listServers", {S("")}).strings(1),
            std::vector<std::string>{"branch -dir-"});
  EXPECT_EQ(call("listServers", {S("branch")}).strings(1),
            std::vector<std::string>{"teller"});

  ASSERT_TRUE(call("addInvokeRights", {S("bob"), S("branch\\teller")}).ok());
  ASSERT_TRUE(call("addLaunchRightsDir", {S("carol"), S("branch")}).ok());
  Reply g = call("getServer", {S("branch\\teller")});
  EXPECT_NE(g.args[6].text().find("bob"), std::string::npos);    // invoke
  EXPECT_NE(g.args[7].text().find("carol"), std::string::npos);  // launch
  ASSERT_TRUE(call("removeInvokeRights", {S("bob"), S("branch\\teller")}).ok());
  ASSERT_TRUE(call("removeLaunchRightsDir", {S("carol"), S("branch")}).ok());
  ASSERT_TRUE(call("addLaunchRights", {S("dan"), S("branch\\teller")}).ok());
  ASSERT_TRUE(call("removeLaunchRights", {S("dan"), S("branch\\teller")}).ok());
  ASSERT_TRUE(call("addInvokeRightsDir", {S("erin"), S("branch")}).ok());
  ASSERT_TRUE(call("removeInvokeRightsDir", {S("erin"), S("branch")}).ok());
  g = call("getServer", {S("branch\\teller")});
  EXPECT_EQ(g.args[6].text().find("bob"), std::string::npos);
  EXPECT_EQ(g.args[7].text().find("carol"), std::string::npos);

  // Directory rights let another user create there.
  ASSERT_TRUE(call("addDirRights", {S("bob"), S("branch")}).ok());
  peer_.user_name = "bob";
  EXPECT_TRUE(newShared("branch\\clerk").ok());
  peer_.user_name = "alice";
  ASSERT_TRUE(call("removeDirRights", {S("bob"), S("branch")}).ok());
  peer_.user_name = "bob";
  EXPECT_EQ(newShared("branch\\clerk2").minor(), 10127u);
  ASSERT_TRUE(call("deleteServer", {S("branch\\clerk")}).ok());

  // Ownership moves to bob; alice may no longer delete.
  peer_.user_name = "alice";
  ASSERT_TRUE(call("changeOwnerServer", {S("bob"), S("branch\\teller")}).ok());
  EXPECT_EQ(call("getServer", {S("branch\\teller")}).args[5].text(), "bob");
  Reply denied = call("deleteServer", {S("branch\\teller")});
  EXPECT_EQ(denied.name(), "NO_PERMISSION");
  EXPECT_EQ(denied.minor(), 10126u);
  peer_.user_name = "bob";
  ASSERT_TRUE(
      call("changeOwnerServer", {S("alice"), S("branch\\teller")}).ok());
  // A directory's new owner also owns the records in it.
  peer_.user_name = "alice";
  ASSERT_TRUE(call("changeOwnerDir", {S("bob"), S("branch")}).ok());
  EXPECT_EQ(call("getServer", {S("branch\\teller")}).args[5].text(), "bob");

  peer_.user_name = "bob";
  ASSERT_TRUE(call("deleteDirectory", {S("branch"), B(true)}).ok());
  EXPECT_TRUE(call("listServers", {S("")}).strings(1).empty());
}

TEST_F(DaemonDispatchTest, EmptyPrincipalIsNobody) {
  peer_.user_name.clear();
  ASSERT_TRUE(newShared("anon").ok());
  EXPECT_EQ(call("getServer", {S("anon")}).args[5].text(), "nobody");
}

// --- the legacy flag ---------------------------------------------------------

TEST_F(DaemonDispatchTest, BelCreatesLegacyForOneCallAndClearsTheFlag) {
  ASSERT_TRUE(call("registerServerAsLegacy", {B(true)}).ok());
  ASSERT_TRUE(newShared("a").ok());
  EXPECT_EQ(call("getServer", {S("a")}).args[2].text(), "xdr");

  ASSERT_TRUE(newShared("b\a").ok());
  EXPECT_TRUE(call("serverExists", {S("b")}).result == B(true));
  EXPECT_EQ(call("getServer", {S("b")}).args[2].text(), "xdr");
  EXPECT_NE(recordFile("b").find("xdr/tcp"), std::string::npos);
  EXPECT_FALSE(daemon_->legacy());

  // The flag set before the BEL call is gone: the next record is "cdr".
  ASSERT_TRUE(newShared("c").ok());
  EXPECT_EQ(call("getServer", {S("c")}).args[2].text(), "cdr");

  // A refused BEL create clears the flag as well.
  ASSERT_TRUE(call("registerServerAsLegacy", {B(true)}).ok());
  EXPECT_EQ(newShared("c\a").minor(), 10248u);
  EXPECT_FALSE(daemon_->legacy());
}

// --- error paths -------------------------------------------------------------

TEST_F(DaemonDispatchTest, RepositoryFailuresReachTheCaller) {
  Reply missing = call("getServer2", {S("ghost")});
  EXPECT_EQ(missing.name(), "BAD_OPERATION");
  EXPECT_EQ(missing.minor(), 10241u);
  EXPECT_EQ(missing.detail(), "ghost");

  ASSERT_TRUE(newShared("bank").ok());
  EXPECT_EQ(newShared("bank").minor(), 10248u);
  Reply badName = newShared("../escape");
  EXPECT_EQ(badName.name(), "BAD_PARAM");
  EXPECT_EQ(badName.minor(), 10032u);
  EXPECT_EQ(call("listServers", {S("nowhere")}).name(), "BAD_OPERATION");

  // A marker without a command is refused; extra commands are ignored.
  Reply unpaired =
      call("newSharedServer", {S("x"), L({"m1", "m2"}), L({"c1"}), U(0)});
  EXPECT_EQ(unpaired.name(), "BAD_PARAM");
  EXPECT_EQ(unpaired.minor(), 10030u);
  EXPECT_EQ(unpaired.detail(), "m2");
  EXPECT_EQ(call("newPerMethodServer", {S("y"), L({"op"}), L({})}).minor(),
            10031u);
  EXPECT_TRUE(
      call("newSharedServer", {S("z"), L({"m1"}), L({"c1", "c2"}), U(0)}).ok());
  EXPECT_EQ(call("serverExists", {S("x")}).result, B(false));
}

TEST_F(DaemonDispatchTest, CorruptRecordExistsButCannotBeRead) {
  ASSERT_TRUE(newShared("bank").ok());
  std::ofstream(daemon_->repository().recordPath("bank"), std::ios::trunc)
      << "garbage\n";
  EXPECT_EQ(call("serverExists", {S("bank")}).result, B(true));
  Reply g = call("getServer", {S("bank")});
  EXPECT_EQ(g.name(), "INTERNAL");
}

TEST_F(DaemonDispatchTest, NamesDifferingInCaseAreNotDispatched) {
  for (const char* name : {"serverexists", "ServerExists", "SERVEREXISTS"}) {
    protocol::Signature sig;
    ASSERT_EQ(protocol::parseSignature(
                  std::string("Ro~") + name + "~+serverName{0},>{b},N{}", sig),
              nullptr);
    Reply r = send(sig, {S("bank")});
    EXPECT_EQ(r.name(), "BAD_OPERATION") << name;
    EXPECT_EQ(r.minor(), 10242u);
    EXPECT_EQ(r.detail(), name);
  }
}

TEST_F(DaemonDispatchTest, PendingOperationsDecodeAndAnswerNoImplement) {
  for (const DaemonOperation& entry : daemonOperations()) {
    const int index = static_cast<int>(entry.op);
    const bool pending = index <= static_cast<int>(DaemonOp::kKillServer);
    if (!pending) continue;
    // Default values of each in parameter's type.
    std::vector<Value> args;
    for (const protocol::Parameter& p : daemonSignature(entry.op).parameters) {
      Value v;
      switch (p.type.kind) {
        case protocol::TypeKind::kString:
          v = S("x");
          break;
        case protocol::TypeKind::kSequence:
          v = L({"h1", "h2"});
          break;
        case protocol::TypeKind::kULong:
          v = U(5);
          break;
        case protocol::TypeKind::kOctet:
          v = Value::ofOctet(3);
          break;
        default:
          break;
      }
      args.push_back(p.sent() ? v : Value());
    }
    Reply r = send(daemonSignature(entry.op), args);
    EXPECT_EQ(r.name(), "NO_IMPLEMENT") << entry.name;
    EXPECT_EQ(r.minor(), kMinorNotImplemented);
    EXPECT_EQ(r.detail(), entry.name);
  }
}

// The run time as an activator with no server processes sees it.
class NoRuntime : public ActivationRuntime {
 public:
  std::string localHostName() override { return "localhost"; }
  std::optional<std::int32_t> channelProcessId(const std::string&,
                                               const std::string&,
                                               const std::string&) override {
    return std::nullopt;
  }
  bool channelHeldBy(const std::string&, const std::string&,
                     std::int32_t) override {
    return false;
  }
  Status pingObject(const std::string&, const std::string&,
                    const std::string&) override {
    return fail<CORBA::COMM_FAILURE>(10085);
  }
  std::optional<std::string> iiopPort() override { return std::nullopt; }
};

class DaemonWithActivatorTest : public DaemonTest {
 protected:
  void SetUp() override {
    DaemonTest::SetUp();
    activator_ = &activator;
    ports_ = &ports;
    start();
  }
  NoRuntime runtime;
  PosixActivator activator{runtime};
  PortAllocator ports{nullptr, nullptr};
};

TEST_F(DaemonWithActivatorTest, BindingAndActivationOperationsAreServed) {
  Reply list = call("listActiveServers", {});
  ASSERT_TRUE(list.ok()) << list.name();
  EXPECT_TRUE(list.args[0].as<Value::List>().empty());
  EXPECT_EQ(call("killServer", {S("bank"), S("")}).minor(), 10244u);
  EXPECT_EQ(
      call("getImplementationDetails", {S("ghost"), S(""), S("")}).minor(),
      10241u);
  EXPECT_EQ(call("getIIOPDetails", {S("ghost"), S(""), S("")}).minor(), 10241u);
  ASSERT_TRUE(
      call("newSharedServer", {S("bank"), L({"m"}), L({"cmd"}), U(0)}).ok());
  // No port range is configured: the registration runs out of ports.
  Reply reg = call("registerPersistentServer", {S("bank"), U(4242)});
  EXPECT_EQ(reg.name(), "IMP_LIMIT");
  EXPECT_EQ(reg.minor(), 10061u);
  // The locator is not built yet.
  EXPECT_EQ(call("lookUp", {S("svc"), Value::ofOctet(2), S("t")}).name(),
            "NO_IMPLEMENT");
}

TEST_F(DaemonDispatchTest, ArgumentsThatDoNotDecodeAreMarshalErrors) {
  protocol::Signature wrong;
  ASSERT_EQ(protocol::parseSignature(
                "Ro~newSharedServer~+serverName{0},>{v},N{}", wrong),
            nullptr);
  Reply r = send(wrong, {S("bank")});
  EXPECT_EQ(r.name(), "MARSHAL");
  EXPECT_EQ(call("serverExists", {S("bank")}).result, B(false));
}

}  // namespace
}  // namespace talvo::interface
