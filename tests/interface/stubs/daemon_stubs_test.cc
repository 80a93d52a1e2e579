// The client stubs: every working operation against a daemon served over
// loopback, the operations still answering NO_IMPLEMENT, and the
// forward-and-retry-once rule over a scripted transport.
#include "interface/daemon_stubs.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "loopback_daemon.h"

namespace talvo::interface {
namespace {

using protocol::Value;
using Strings = std::vector<std::string>;

class StubsTest : public ::testing::Test {
 protected:
  StubsTest() {
    chain_.add("map", std::make_unique<testing::FixedConfig>(
                          std::map<std::string, std::string>{}));
    config_ = std::make_unique<RuntimeConfig>(chain_);
    OrbOptions o;
    o.context = &context_;
    o.config = config_.get();
    o.reply_timeout_ms = 10000;
    orb_ = std::make_unique<Orb>(o);
    client_ = std::make_unique<DaemonClient>(*orb_, daemon_.target());
  }

  ServerDescription show(const std::string& name) {
    ServerDescription s;
    EXPECT_EQ(client_->getServer2(name, &s), nullptr) << name;
    return s;
  }
  static void expectFailure(const Status& st, const char* name,
                            std::uint32_t minor) {
    ASSERT_NE(st, nullptr) << name;
    EXPECT_EQ(st->bareName(), name);
    EXPECT_EQ(st->minor(), minor);
  }

  testing::LoopbackDaemon daemon_;
  testing::QuietTransport context_;
  ConfigChain chain_;
  std::unique_ptr<RuntimeConfig> config_;
  std::unique_ptr<Orb> orb_;
  std::unique_ptr<DaemonClient> client_;
};

// ---- Round trips
// --------------------------------------------------------------

TEST_F(StubsTest, CreateReadAndDeleteEachKindOfServer) {
  DaemonClient& c = *client_;
  ASSERT_EQ(c.newSharedServer("bank", {"m1", "m2"}, {"srv -a", "srv -b"}, 1),
            nullptr);
  ASSERT_EQ(c.newSharedServer2("rr", {"*"}, {"rr"}, 0, 3, 4100), nullptr);
  ASSERT_EQ(c.newUnSharedServer("solo", {"x"}, {"solo"}, 2), nullptr);
  ASSERT_EQ(c.newPerMethodServer("pm", {"op1", "op2"}, {"a", "b"}), nullptr);

  ServerDescription bank = show("bank");
  EXPECT_EQ(bank.activationPolicy, "shared");
  EXPECT_EQ(bank.modeFlags, 1u);
  EXPECT_EQ(bank.nservers, 1u);
  EXPECT_EQ(bank.markers, (Strings{"m1", "m2"}));
  EXPECT_EQ(bank.commands, (Strings{"srv -a", "srv -b"}));
  EXPECT_TRUE(bank.methods.empty());
  EXPECT_EQ(bank.owner, config_->userName());
  EXPECT_EQ(bank.codeProtocol, "cdr");

  ServerDescription rr = show("rr");
  EXPECT_EQ(rr.nservers, 3u);
  EXPECT_EQ(rr.port, 4100u);
  // getServer leaves out the number of servers and the port.
  ServerDescription basic;
  ASSERT_EQ(c.getServer("rr", &basic), nullptr);
  EXPECT_EQ(basic.nservers, 0u);
  EXPECT_EQ(basic.port, 0u);
  EXPECT_EQ(basic.markers, (Strings{"*"}));

  EXPECT_EQ(show("solo").activationPolicy, "unshared");
  EXPECT_EQ(show("solo").modeFlags, 2u);
  ServerDescription pm = show("pm");
  EXPECT_EQ(pm.activationPolicy, "per_method");
  std::sort(pm.methods.begin(), pm.methods.end());
  EXPECT_EQ(pm.methods, (Strings{"op1", "op2"}));
  EXPECT_TRUE(pm.markers.empty());

  Strings names;
  ASSERT_EQ(c.listServers("", &names), nullptr);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (Strings{"bank", "pm", "rr", "solo"}));

  bool exists = false;
  ASSERT_EQ(c.serverExists("bank", &exists), nullptr);
  EXPECT_TRUE(exists);
  ASSERT_EQ(c.deleteServer("bank"), nullptr);
  ASSERT_EQ(c.serverExists("bank", &exists), nullptr);
  EXPECT_FALSE(exists);
}

TEST_F(StubsTest, MarkersMethodsOwnersAndRights) {
  DaemonClient& c = *client_;
  ASSERT_EQ(c.newSharedServer("s", {"a"}, {"cmd a"}, 0), nullptr);
  ASSERT_EQ(c.addMarker("s", "b", "cmd b"), nullptr);
  ServerDescription s = show("s");
  EXPECT_EQ(s.markers.size(), 2u);
  EXPECT_NE(std::find(s.markers.begin(), s.markers.end(), "b"),
            s.markers.end());
  ASSERT_EQ(c.removeMarker("s", "b"), nullptr);
  EXPECT_EQ(show("s").markers, (Strings{"a"}));

  // The shared and unshared forms insist on the server's kind.
  ASSERT_EQ(c.addSharedMarker("s", "h", "cmd h"), nullptr);
  ASSERT_EQ(c.newUnSharedServer("u", {"a"}, {"cmd a"}, 0), nullptr);
  ASSERT_EQ(c.addUnsharedMarker("u", "x", "cmd x"), nullptr);
  expectFailure(c.addSharedMarker("u", "y", "cmd y"), "BAD_OPERATION", 10261);
  expectFailure(c.addUnsharedMarker("s", "y", "cmd y"), "BAD_OPERATION", 10261);
  EXPECT_EQ(show("u").markers.size(), 2u);
  EXPECT_EQ(show("s").markers.size(), 2u);
  ASSERT_EQ(c.removeUnsharedMarker("u", "x"), nullptr);
  ASSERT_EQ(c.removeSharedMarker("s", "h"), nullptr);
  EXPECT_EQ(show("u").markers, (Strings{"a"}));
  EXPECT_EQ(show("s").markers, (Strings{"a"}));
  // A marker of a per-method server is refused.
  ASSERT_EQ(c.newPerMethodServer("p", {"m"}, {"c"}), nullptr);
  EXPECT_NE(c.addMarker("p", "b", "c"), nullptr);

  ASSERT_EQ(c.newPerMethodServer("pm", {"op"}, {"x"}), nullptr);
  ASSERT_EQ(c.addMethod("pm", "op2", "y"), nullptr);
  EXPECT_EQ(show("pm").methods.size(), 2u);
  ASSERT_EQ(c.removeMethod("pm", "op2"), nullptr);
  EXPECT_EQ(show("pm").methods, (Strings{"op"}));

  ASSERT_EQ(c.addInvokeRights("carol", "s"), nullptr);
  ASSERT_EQ(c.addLaunchRights("dave", "s"), nullptr);
  s = show("s");
  EXPECT_NE(s.invokeList.find("carol"), std::string::npos);
  EXPECT_NE(s.launchList.find("dave"), std::string::npos);
  ASSERT_EQ(c.removeInvokeRights("carol", "s"), nullptr);
  ASSERT_EQ(c.removeLaunchRights("dave", "s"), nullptr);
  s = show("s");
  EXPECT_EQ(s.invokeList.find("carol"), std::string::npos);
  EXPECT_EQ(s.launchList.find("dave"), std::string::npos);

  ASSERT_EQ(c.changeOwnerServer("erin", "s"), nullptr);
  EXPECT_EQ(show("s").owner, "erin");
}

TEST_F(StubsTest, DirectoriesAndTheirRights) {
  DaemonClient& c = *client_;
  ASSERT_EQ(c.newDirectory("d"), nullptr);
  ASSERT_EQ(c.newSharedServer("d/inner", {"m"}, {"c"}, 0), nullptr);
  Strings names;
  ASSERT_EQ(c.listServers("d", &names), nullptr);
  EXPECT_EQ(names, (Strings{"inner"}));
  for (auto f :
       {&DaemonClient::addInvokeRightsDir, &DaemonClient::addLaunchRightsDir,
        &DaemonClient::addDirRights, &DaemonClient::removeInvokeRightsDir,
        &DaemonClient::removeLaunchRightsDir, &DaemonClient::removeDirRights}) {
    EXPECT_EQ((c.*f)("frank", "d"), nullptr);
  }
  // A directory that holds records goes only with its children.
  EXPECT_NE(c.deleteDirectory("d", false), nullptr);
  ASSERT_EQ(c.deleteDirectory("d", true), nullptr);
  ASSERT_EQ(c.listServers("", &names), nullptr);
  EXPECT_TRUE(names.empty());

  ASSERT_EQ(c.newDirectory("e"), nullptr);
  ASSERT_EQ(c.changeOwnerDir("grace", "e"), nullptr);
  EXPECT_NE(c.newDirectory("e"), nullptr);  // it exists already
}

TEST_F(StubsTest, LegacyModeGivesTheXdrCode) {
  ASSERT_EQ(client_->registerServerAsLegacy(true), nullptr);
  ASSERT_EQ(client_->newSharedServer("old", {"m"}, {"c"}, 0), nullptr);
  ASSERT_EQ(client_->registerServerAsLegacy(false), nullptr);
  ASSERT_EQ(client_->newSharedServer("new", {"m"}, {"c"}, 0), nullptr);
  EXPECT_EQ(show("old").codeProtocol, "xdr");
  EXPECT_EQ(show("new").codeProtocol, "cdr");
}

// ---- Error paths
// --------------------------------------------------------------

TEST_F(StubsTest, RepositoryExceptionsReachTheCaller) {
  DaemonClient& c = *client_;
  expectFailure(c.deleteServer("ghost"), "BAD_OPERATION", 10241);
  ServerDescription s;
  s.owner = "untouched";
  EXPECT_NE(c.getServer2("ghost", &s), nullptr);
  EXPECT_EQ(s.owner, "untouched");  // outs are written only on success
  // A marker without a command.
  expectFailure(c.newSharedServer("x", {"m1", "m2"}, {"c1"}, 0), "BAD_PARAM",
                10030);
  ASSERT_EQ(c.newSharedServer("dup", {"m"}, {"c"}, 0), nullptr);
  EXPECT_NE(c.newSharedServer("dup", {"m"}, {"c"}, 0), nullptr);
}

TEST_F(StubsTest, LocatorOperationsAnswerNotImplemented) {
  DaemonClient& c = *client_;
  Strings hosts;
  bool ok = true;
  Status st = c.lookUp("svc", 2, "tag", &hosts, &ok);
  expectFailure(st, "NO_IMPLEMENT", kMinorNotImplemented);
  EXPECT_EQ(st->detail().value_or(""), "lookUp");
  expectFailure(c.addHostsToServer("s", {"h"}, &ok), "NO_IMPLEMENT", 10200);
  expectFailure(c.addHostsToGroup("g", {"h"}, &ok), "NO_IMPLEMENT", 10200);
  expectFailure(c.addGroupsToServer("s", {"g"}, &ok), "NO_IMPLEMENT", 10200);
  expectFailure(c.delHostsFromServer("s", {"h"}, &ok), "NO_IMPLEMENT", 10200);
  expectFailure(c.delHostsFromGroup("g", {"h"}, &ok), "NO_IMPLEMENT", 10200);
  expectFailure(c.delGroupsFromServer("s", {"g"}, &ok), "NO_IMPLEMENT", 10200);
  expectFailure(c.listHostsInServer("s", &hosts, &ok), "NO_IMPLEMENT", 10200);
  expectFailure(c.listHostsInGroup("g", &hosts, &ok), "NO_IMPLEMENT", 10200);
  st = c.listGroupsInServer("s", &hosts, &ok);
  expectFailure(st, "NO_IMPLEMENT", 10200);
  EXPECT_EQ(st->detail().value_or(""), "listGroupsInServer");
}

TEST_F(StubsTest, ActivationOperationsFailForAnUnknownServer) {
  // Until activation lands these answer NO_IMPLEMENT with their name; after
  // it, an unknown server is still a failure. Either way: an exception.
  DaemonClient& c = *client_;
  auto pendingOrFailed = [](const Status& st, const char* op) {
    ASSERT_NE(st, nullptr) << op;
    if (st->bareName() == "NO_IMPLEMENT") {
      EXPECT_EQ(st->detail().value_or(""), op);
    }
  };
  ImplementationDetails d;
  pendingOrFailed(c.getImplementationDetails("ghost", "", "", &d),
                  "getImplementationDetails");
  IiopDetails i;
  pendingOrFailed(c.getIIOPDetails("ghost", "", "", &i), "getIIOPDetails");
  pendingOrFailed(c.killServer("ghost", ""), "killServer");
  std::vector<ServerDetails> active;
  Status st = c.listActiveServers(&active);
  if (st == nullptr) {
    EXPECT_TRUE(active.empty());
  } else {
    EXPECT_EQ(st->bareName(), "NO_IMPLEMENT");
  }
}

TEST(StubsConnectionTest, NoDaemonIsACommunicationFailure) {
  testing::QuietTransport context;
  ConfigChain chain;
  RuntimeConfig config(chain);
  OrbOptions o;
  o.context = &context;
  o.config = &config;
  Orb orb(o);
  std::uint16_t port = 0;
  {
    // A port that was free a moment ago and is closed again.
    Orb probe(o);
    ASSERT_EQ(probe.listen("0", &port), nullptr);
  }
  Target t;
  t.host = "127.0.0.1";
  t.port = std::to_string(port);
  t.ref = protocol::ObjectRef("localhost", "QV_daemon", "", "", "IR",
                              std::string(kDaemonInterfaceName));
  DaemonClient c(orb, t);
  bool exists = false;
  Status st = c.serverExists("x", &exists);
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->bareName(), "COMM_FAILURE");
}

// ---- Forwarding and marshalling over a scripted transport
// ---------------------

struct Attempt {
  std::string port;
  std::string signature;
  std::vector<Value> args;
};

class ScriptedTest : public ::testing::Test {
 protected:
  DaemonClient client(std::vector<std::function<Status(CallReply&)>> answers) {
    script_ = std::move(answers);
    Target first;
    first.host = "127.0.0.1";
    first.port = "1000";
    return DaemonClient(
        [this](const Target& t, std::string_view sig, std::vector<Value> args,
               CallReply& reply) -> Status {
          attempts_.push_back({t.port, std::string(sig), std::move(args)});
          if (attempts_.size() > script_.size()) {
            return fail<CORBA::INTERNAL>(1, "unexpected attempt");
          }
          return script_[attempts_.size() - 1](reply);
        },
        first);
  }
  static Status forwardedReply(CallReply&) {
    return fail<CORBA::IIOP>(kMinorForwarded);
  }
  static Status exists(CallReply& r) {
    r.result = Value::ofBool(true);
    return nullptr;
  }
  static Status forwardTo(const Target& current, Target& next) {
    next = current;
    next.port = "2000";
    return nullptr;
  }

  std::vector<std::function<Status(CallReply&)>> script_;
  std::vector<Attempt> attempts_;
};

TEST_F(ScriptedTest, ForwardedRequestIsSentOnceMoreToTheNewLocation) {
  DaemonClient c = client({forwardedReply, exists});
  c.setForwarder(forwardTo);
  bool found = false;
  ASSERT_EQ(c.serverExists("bank", &found), nullptr);
  EXPECT_TRUE(found);
  ASSERT_EQ(attempts_.size(), 2u);
  EXPECT_EQ(attempts_[0].port, "1000");
  EXPECT_EQ(attempts_[1].port, "2000");
  EXPECT_EQ(attempts_[1].args, attempts_[0].args);
  EXPECT_EQ(c.target().port, "2000");  // later calls go there too
}

TEST_F(ScriptedTest, SecondForwardEndsTheCall) {
  DaemonClient c = client({forwardedReply, forwardedReply});
  c.setForwarder(forwardTo);
  bool found = false;
  Status st = c.serverExists("bank", &found);
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->minor(), kMinorForwarded);
  EXPECT_EQ(attempts_.size(), 2u);
}

TEST_F(ScriptedTest, OtherFailuresAndMissingForwarderAreNotRetried) {
  DaemonClient a =
      client({[](CallReply&) { return fail<CORBA::IIOP>(10602); }});
  a.setForwarder(forwardTo);
  EXPECT_NE(a.deleteServer("x"), nullptr);
  EXPECT_EQ(attempts_.size(), 1u);

  attempts_.clear();
  DaemonClient b = client({forwardedReply});  // no forwarder set
  Status st = b.deleteServer("x");
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->minor(), kMinorForwarded);
  EXPECT_EQ(attempts_.size(), 1u);
}

TEST_F(ScriptedTest, ForwarderFailureEndsTheCall) {
  DaemonClient c = client({forwardedReply, exists});
  c.setForwarder(
      [](const Target&, Target&) { return fail<CORBA::INV_OBJREF>(10100); });
  Status st = c.deleteServer("x");
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->bareName(), "INV_OBJREF");
  EXPECT_EQ(attempts_.size(), 1u);
}

TEST_F(ScriptedTest, RequestsCarryTheTableSignatureAndOneValuePerParameter) {
  DaemonClient c = client({[](CallReply& r) {
    r.args.resize(6);
    r.args[1] = Value::ofStrings({"h1", "h2"});
    r.result = Value::ofBool(true);
    return Status();
  }});
  Strings hosts;
  bool ok = false;
  ASSERT_EQ(c.lookUp("svc", 3, "t", &hosts, &ok), nullptr);
  EXPECT_TRUE(ok);
  EXPECT_EQ(hosts, (Strings{"h1", "h2"}));
  ASSERT_EQ(attempts_.size(), 1u);
  EXPECT_EQ(attempts_[0].signature,
            daemonOperation(DaemonOp::kLookUp).signature);
  // service, hostList (out: void), hops, tag.
  ASSERT_EQ(attempts_[0].args.size(), 4u);
  EXPECT_EQ(attempts_[0].args[0], Value::ofString("svc"));
  EXPECT_TRUE(attempts_[0].args[1].isVoid());
  EXPECT_EQ(attempts_[0].args[2], Value::ofOctet(3));
  EXPECT_EQ(attempts_[0].args[3], Value::ofString("t"));
}

TEST_F(ScriptedTest, UserExceptionInTheReplyIsUnknown) {
  DaemonClient c = client({[](CallReply& r) {
    r.user_exception = std::make_unique<CORBA::UserException>("Mod::Err");
    return Status();
  }});
  Status st = c.deleteServer("x");
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->bareName(), "UNKNOWN");
  EXPECT_EQ(st->detail().value_or(""), "Mod::Err");
}

}  // namespace
}  // namespace talvo::interface
