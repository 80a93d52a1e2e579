// The daemon's operations called through the client stubs, over the
// request encoding and the daemon's dispatch (both generated from the
// operation table), against a temporary repository; and the client's
// forward-and-retry rule over a scripted transport.

#include <gtest/gtest.h>

#include <algorithm>

#include "activation_support.h"
#include "daemon_fixture.h"

namespace talvo::interface {
namespace {

using client::DaemonClient;
using client::kMinorForwarded;

Strings sorted(Strings v) {
  std::sort(v.begin(), v.end());
  return v;
}

class RoundTripTest : public DaemonTest {
 protected:
  void SetUp() override {
    DaemonTest::SetUp();
    start();
  }
};

// --- round trips -------------------------------------------------------------
// (Each operation's own round trip through the real talvod is talvoctl's
// test; these are what only the daemon object shows.)

TEST_F(RoundTripTest, GetServerLeavesOutTheServersAndThePort) {
  DaemonClient& c = client();
  ASSERT_EQ(c.newSharedServer2("rr", Strings{"x"}, Strings{"cmd"}, 3u, 4u,
                               std::int32_t{7650}),
            nullptr);
  ServerDescription rr = show("rr");
  EXPECT_EQ(rr.modeFlags, 3u);
  EXPECT_EQ(rr.nservers, 4u);
  EXPECT_EQ(rr.port, 7650u);
  EXPECT_EQ(rr.owner, "alice");  // the caller
  ServerDescription basic;
  ASSERT_EQ(c.getServer("rr", &basic), nullptr);
  EXPECT_EQ(basic.nservers, 0u);
  EXPECT_EQ(basic.port, 0u);
  EXPECT_EQ(basic.modeFlags, 3u);
  EXPECT_EQ(basic.commands, Strings{"cmd"});
  ASSERT_EQ(c.newDirectory("branch"), nullptr);
  Strings names;
  ASSERT_EQ(c.listServers("", &names), nullptr);
  EXPECT_EQ(sorted(names), (Strings{"branch -dir-", "rr"}));
}

TEST_F(RoundTripTest, TheCallersPrincipalDecidesWhatItMayChange) {
  DaemonClient& c = client();
  ASSERT_EQ(c.newDirectory("branch"), nullptr);
  ASSERT_EQ(newShared("branch\\teller"), nullptr);
  // Directory rights let another user create there.
  ASSERT_EQ(c.addDirRights("bob", "branch"), nullptr);
  peer_.user_name = "bob";
  EXPECT_EQ(newShared("branch\\clerk"), nullptr);
  peer_.user_name = "alice";
  ASSERT_EQ(c.removeDirRights("bob", "branch"), nullptr);
  peer_.user_name = "bob";
  EXPECT_EQ(minorOf(newShared("branch\\clerk2")), 10127u);
  ASSERT_EQ(c.deleteServer("branch\\clerk"), nullptr);

  // Ownership moves to bob; alice may no longer delete.
  peer_.user_name = "alice";
  ASSERT_EQ(c.changeOwnerServer("bob", "branch\\teller"), nullptr);
  Status denied = c.deleteServer("branch\\teller");
  EXPECT_EQ(nameOf(denied), "NO_PERMISSION");
  EXPECT_EQ(minorOf(denied), 10126u);
  EXPECT_TRUE(exists("branch\\teller"));

  // A request without a principal acts as "nobody".
  peer_.user_name.clear();
  ASSERT_EQ(newShared("anon"), nullptr);
  EXPECT_EQ(show("anon").owner, "nobody");
}

TEST_F(RoundTripTest, BelCreatesLegacyForOneCallAndClearsTheFlag) {
  DaemonClient& c = client();
  ASSERT_EQ(c.registerServerAsLegacy(true), nullptr);
  ASSERT_EQ(newShared("a"), nullptr);
  EXPECT_EQ(show("a").codeProtocol, "xdr");

  ASSERT_EQ(newShared("b\a"), nullptr);
  EXPECT_EQ(show("b").codeProtocol, "xdr");
  EXPECT_FALSE(daemon_->legacy());

  // The flag set before the BEL call is gone: the next record is "cdr".
  ASSERT_EQ(newShared("c"), nullptr);
  EXPECT_EQ(show("c").codeProtocol, "cdr");

  // A refused BEL create clears the flag as well.
  ASSERT_EQ(c.registerServerAsLegacy(true), nullptr);
  EXPECT_EQ(minorOf(newShared("c\a")), 10248u);
  EXPECT_FALSE(daemon_->legacy());
}

// --- error paths -------------------------------------------------------------

TEST_F(RoundTripTest, RepositoryFailuresReachTheCallerAndLeaveOutsAlone) {
  DaemonClient& c = client();
  ServerDescription s;
  s.owner = "untouched";
  Status missing = c.getServer2("ghost", &s);
  EXPECT_EQ(nameOf(missing), "BAD_OPERATION");
  EXPECT_EQ(minorOf(missing), 10241u);
  EXPECT_EQ(detailOf(missing), "ghost");
  EXPECT_EQ(s.owner, "untouched");  // outs are written only on success
  EXPECT_EQ(minorOf(c.deleteServer("ghost")), 10241u);

  Strings names{"stale"};
  EXPECT_EQ(nameOf(c.listServers("nowhere", &names)), "BAD_OPERATION");
  EXPECT_EQ(names, Strings{"stale"});

  // A marker without a command is refused; extra commands are ignored.
  Status unpaired =
      c.newSharedServer("x", Strings{"m1", "m2"}, Strings{"c1"}, 0u);
  EXPECT_EQ(nameOf(unpaired), "BAD_PARAM");
  EXPECT_EQ(minorOf(unpaired), 10030u);
  EXPECT_EQ(detailOf(unpaired), "m2");
  EXPECT_EQ(minorOf(c.newPerMethodServer("y", Strings{"op"}, Strings{})),
            10031u);
  EXPECT_EQ(c.newSharedServer("z", Strings{"m1"}, Strings{"c1", "c2"}, 0u),
            nullptr);
  EXPECT_FALSE(exists("x"));
}

TEST_F(RoundTripTest, RequestsOutsideTheTableAreRefused) {
  CallReply r;
  // Names are compared exactly.
  for (const char* name : {"serverexists", "ServerExists"}) {
    Status st = send(std::string("Ro~") + name + "~+serverName{0},>{b},N{}",
                     {Value::ofString("bank")}, r);
    EXPECT_EQ(nameOf(st), "BAD_OPERATION") << name;
    EXPECT_EQ(minorOf(st), 10242u);
    EXPECT_EQ(detailOf(st), name);
  }
  // Arguments that do not decode by the operation's signature.
  Status st = send("Ro~newSharedServer~+serverName{0},>{v},N{}",
                   {Value::ofString("bank")}, r);
  EXPECT_EQ(nameOf(st), "MARSHAL");
  EXPECT_FALSE(exists("bank"));
}

TEST_F(RoundTripTest, PendingOperationsDecodeAndAnswerNoImplementByName) {
  // Without an activator every binding and activation operation decodes its
  // arguments and answers with its own name (the locator's are served).
  for (const auto& entry : client::daemonOperations()) {
    if (entry.op > client::DaemonOp::kKillServer) break;
    if (entry.op >= client::DaemonOp::kLookUp &&
        entry.op <= client::DaemonOp::kListGroupsInServer) {
      continue;
    }
    std::vector<Value> ins;
    for (const auto& p : client::daemonSignature(entry.op).parameters) {
      if (!p.sent()) continue;
      switch (p.type.kind) {
        case protocol::TypeKind::kSequence:
          ins.push_back(Value::ofStrings({"h1", "h2"}));
          break;
        case protocol::TypeKind::kULong:
          ins.push_back(Value::ofULong(5));
          break;
        case protocol::TypeKind::kOctet:
          ins.push_back(Value::ofOctet(3));
          break;
        default:
          ins.push_back(Value::ofString("x"));
      }
    }
    CallReply r;
    Status st = client().invoke(entry.op, std::move(ins), r);
    EXPECT_EQ(nameOf(st), "NO_IMPLEMENT") << entry.name;
    EXPECT_EQ(minorOf(st), kMinorNotImplemented);
    EXPECT_EQ(detailOf(st), entry.name);
  }
}

class WithActivatorTest : public DaemonTest {
 protected:
  void SetUp() override {
    DaemonTest::SetUp();
    activator_ = &activator;
    ports_ = &ports;
    start();
  }
  talvo::testing::TraceCapture quiet;
  talvo::testing::FakeRuntime runtime;  // no server processes
  PosixActivator activator{runtime};
  PortAllocator ports{nullptr, nullptr};
};

TEST_F(WithActivatorTest, BindingAndActivationOperationsAreServed) {
  DaemonClient& c = client();
  std::vector<ServerDetails> active{ServerDetails{}};
  ASSERT_EQ(c.listActiveServers(&active), nullptr);
  EXPECT_TRUE(active.empty());
  EXPECT_EQ(minorOf(c.killServer("bank", "")), 10244u);
  ImplementationDetails impl;
  EXPECT_EQ(minorOf(c.getImplementationDetails("ghost", "", "", &impl)),
            10241u);
  IiopDetails iiop;
  EXPECT_EQ(minorOf(c.getIIOPDetails("ghost", "", "", &iiop)), 10241u);
  ASSERT_EQ(newShared("bank"), nullptr);
  // No port range is configured: the registration runs out of ports.
  PersistentServerDetails reg;
  Status st = c.registerPersistentServer("bank", 4242u, &reg);
  EXPECT_EQ(nameOf(st), "IMP_LIMIT");
  EXPECT_EQ(minorOf(st), 10061u);
}

// --- the client's forward rule, over a scripted transport --------------------

struct Attempt {
  std::string port;
  std::string signature;
  std::vector<Value> args;
};

class ForwardTest : public ::testing::Test {
 protected:
  using Answer = std::function<Status(CallReply&)>;

  DaemonClient& client(std::vector<Answer> answers) {
    script_ = std::move(answers);
    Target first;
    first.port = "1000";
    client_ = std::make_unique<DaemonClient>(
        [this](const Target& t, std::string_view sig, std::vector<Value> args,
               CallReply& reply) -> Status {
          attempts_.push_back({t.port, std::string(sig), std::move(args)});
          if (attempts_.size() > script_.size()) {
            return fail<CORBA::INTERNAL>(1, "unexpected attempt");
          }
          return script_[attempts_.size() - 1](reply);
        },
        first);
    return *client_;
  }
  static Status forwarded(CallReply&) {
    return fail<CORBA::IIOP>(kMinorForwarded);
  }
  static Status found(CallReply& r) {
    r.result = Value::ofBool(true);
    return nullptr;
  }
  static Status forwardTo(const Target& current, Target& next) {
    next = current;
    next.port = "2000";
    return nullptr;
  }

  std::vector<Answer> script_;
  std::vector<Attempt> attempts_;
  std::unique_ptr<DaemonClient> client_;
};

TEST_F(ForwardTest, ForwardedRequestIsSentOnceMoreToTheNewLocation) {
  DaemonClient& c = client({forwarded, found});
  c.setForwarder(forwardTo);
  bool exists = false;
  ASSERT_EQ(c.serverExists("bank", &exists), nullptr);
  EXPECT_TRUE(exists);
  ASSERT_EQ(attempts_.size(), 2u);
  EXPECT_EQ(attempts_[0].port, "1000");
  EXPECT_EQ(attempts_[1].port, "2000");
  EXPECT_EQ(attempts_[1].args, attempts_[0].args);
  EXPECT_EQ(c.target().port, "2000");  // later calls go there too

  // Without a forwarder the reference the forward brought is the target.
  attempts_.clear();
  DaemonClient& iiop = client({[](CallReply& r) {
                                 r.forward = protocol::IorProfile{
                                     .host = "127.0.0.1", .port = 3000};
                                 return forwarded(r);
                               },
                               found});
  ASSERT_EQ(iiop.serverExists("bank", &exists), nullptr);
  ASSERT_EQ(attempts_.size(), 2u);
  EXPECT_EQ(attempts_[1].port, "3000");
  EXPECT_TRUE(iiop.target().iiop);
}

TEST_F(ForwardTest, OnlyOneForwardIsFollowed) {
  // A second forward, another failure, no forwarder, or a failing one: the
  // call ends with what it got.
  DaemonClient& twice = client({forwarded, forwarded});
  twice.setForwarder(forwardTo);
  EXPECT_EQ(minorOf(twice.deleteServer("x")), kMinorForwarded);
  EXPECT_EQ(attempts_.size(), 2u);

  attempts_.clear();
  DaemonClient& other =
      client({[](CallReply&) { return fail<CORBA::IIOP>(10602); }});
  other.setForwarder(forwardTo);
  EXPECT_EQ(minorOf(other.deleteServer("x")), 10602u);
  EXPECT_EQ(attempts_.size(), 1u);

  attempts_.clear();
  EXPECT_EQ(minorOf(client({forwarded}).deleteServer("x")), kMinorForwarded);
  EXPECT_EQ(attempts_.size(), 1u);

  attempts_.clear();
  DaemonClient& refused = client({forwarded, found});
  refused.setForwarder(
      [](const Target&, Target&) { return fail<CORBA::INV_OBJREF>(10100); });
  EXPECT_EQ(nameOf(refused.deleteServer("x")), "INV_OBJREF");
  EXPECT_EQ(attempts_.size(), 1u);
}

TEST_F(ForwardTest,
       RequestValuesFollowTheSignatureAndUserExceptionsAreUnknown) {
  DaemonClient& c =
      client({[](CallReply& r) {
                r.args.resize(4);
                r.args[1] = Value::ofStrings({"h1", "h2"});
                r.result = Value::ofBool(true);
                return Status();
              },
              [](CallReply& r) {
                r.user_exception =
                    std::make_unique<CORBA::UserException>("Mod::Err");
                return Status();
              }});
  Strings hosts;
  bool ok = false;
  ASSERT_EQ(c.lookUp("svc", std::uint8_t{3}, "t", &hosts, &ok), nullptr);
  EXPECT_TRUE(ok);
  EXPECT_EQ(hosts, (Strings{"h1", "h2"}));
  EXPECT_EQ(attempts_[0].signature, client::op::LookUp::signature());
  // service, hostList (out: void), hops, tag.
  EXPECT_EQ(attempts_[0].args,
            (std::vector<Value>{Value::ofString("svc"), Value(),
                                Value::ofOctet(3), Value::ofString("t")}));

  Status st = c.deleteServer("x");
  EXPECT_EQ(nameOf(st), "UNKNOWN");
  EXPECT_EQ(detailOf(st), "Mod::Err");
}

}  // namespace
}  // namespace talvo::interface
