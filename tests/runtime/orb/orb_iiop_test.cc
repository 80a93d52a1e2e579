// The Orb over IIOP, as a client of another ORB sees it on the wire:
// requests and replies in both byte orders, exceptions, the operations
// every object answers, LocateRequest, location forwards made by a failure
// hook (at once or later), the checks on each GIOP message, and one port
// shared by both protocols while other peers stall or send garbage.

#include <gtest/gtest.h>

#include "orb_test_util.h"
#include "runtime/iiop/giop.h"
#include "runtime/protocol/request_filter.h"
#include "support/runtime_peer.h"
#include "support/wait.h"

namespace talvo::testing {
namespace {

using iiop::MsgType;
using protocol::CdrDecoder;
using protocol::CdrEncoder;

const char* const kAcct = ":\\localhost:bank:acct1::IR:Account";

// A GIOP request for the object of string reference `ref`.
Bytes giopRequest(std::uint32_t id, std::string_view ref, std::string op,
                  const std::function<void(CdrEncoder&)>& args = {},
                  bool little_endian = true, bool response = true,
                  std::string principal = "") {
  iiop::RequestHeader h;
  h.request_id = id;
  h.response_expected = response;
  h.object_key.assign(ref.begin(), ref.end());
  h.object_key.push_back(0);
  h.operation = std::move(op);
  h.requesting_principal.assign(principal.begin(), principal.end());
  iiop::MessageWriter w(MsgType::kRequest, little_endian);
  iiop::putRequestHeader(w.body(), h);
  if (args) args(w.body());
  return w.finish();
}

// The next whole GIOP message from `peer` (empty when none came).
Bytes nextMessage(RawPeer& peer, Bytes& pending) {
  auto fill = [&](std::size_t n) {
    if (pending.size() < n) {
      Bytes more = peer.receive(n - pending.size());
      pending.insert(pending.end(), more.begin(), more.end());
    }
    return pending.size() >= n;
  };
  iiop::MessageHeader h;
  if (!fill(12) || iiop::decodeHeader(pending, h) != nullptr ||
      !fill(12 + h.size)) {
    return {};
  }
  Bytes m(pending.begin(), pending.begin() + 12 + h.size);
  pending.erase(pending.begin(), pending.begin() + 12 + h.size);
  return m;
}

// A reply read back: its header, and a decoder over what follows it.
struct Reply {
  Bytes bytes;
  iiop::MessageReader reader;
  iiop::ReplyHeader header;
  iiop::SystemExceptionBody system;  // for SYSTEM_EXCEPTION
  CdrDecoder& body() { return *reader.body; }
};

class OrbIiopTest : public ::testing::Test {
 protected:
  // Sends `message` on a connection of its own and reads one reply.
  void call(const Bytes& message, Reply& out) {
    RawPeer peer(server.port);
    peer.send(message);
    Bytes pending;
    out.bytes = nextMessage(peer, pending);
    ASSERT_EQ(iiop::openMessage(out.bytes, out.reader), nullptr);
    ASSERT_EQ(out.reader.header.type, 1);
    ASSERT_EQ(iiop::getReplyHeader(out.body(), out.header), nullptr);
    if (out.header.reply_status == iiop::ReplyStatus::kSystemException) {
      ASSERT_EQ(iiop::getSystemException(out.body(), out.system), nullptr);
    }
  }

  AccountServer server;
};

TEST_F(OrbIiopTest, CallsRepliesAndExceptionsInBothByteOrders) {
  for (bool le : {true, false}) {
    Reply r;
    call(giopRequest(
             7, kAcct, "deposit",
             [](CdrEncoder& e) {
               e.putLong(5);
               e.putString("hi");
             },
             le),
         r);
    ASSERT_EQ(r.header.reply_status, iiop::ReplyStatus::kNoException);
    bool result = false;
    std::int32_t balance = 0;
    std::optional<std::string> note;
    // IIOP order: the result first, then out and inout in signature order.
    ASSERT_TRUE(r.body().getBoolean(result) && r.body().getLong(balance) &&
                r.body().getString(note));
    EXPECT_EQ(r.header.request_id, 7u);
    EXPECT_TRUE(result);
    EXPECT_EQ(balance, 105);
    EXPECT_EQ(note, "hi!");
  }
  Reply who;
  call(giopRequest(8, kAcct, "whoAmI", {}, false, true, {"alice\0", 6}), who);
  std::optional<std::string> user;
  ASSERT_TRUE(who.body().getString(user));
  EXPECT_EQ(user, "alice");

  Reply u;
  call(giopRequest(10, kAcct, "failUser"), u);
  ASSERT_EQ(u.header.reply_status, iiop::ReplyStatus::kUserException);
  std::optional<std::string> id;
  std::int32_t by = 0;
  ASSERT_TRUE(u.body().getString(id) && u.body().getLong(by));
  EXPECT_EQ(id, "IDL:Account/Overdrawn:1.0");
  EXPECT_EQ(by, 42);

  const std::string nope = ":\\localhost:bank:nope::IR:Account";
  struct Failing {
    std::string ref, op, id;
    std::uint32_t minor;
  } failing[] = {{kAcct, "fail", "BAD_PARAM", 10032},
                 {nope, "whoAmI", "INV_OBJREF", 10101},
                 {nope, "_is_a", "INV_OBJREF", 10101},
                 {"not a reference", "whoAmI", "INV_OBJREF", 10101},
                 {kAcct, "withdraw", "BAD_OPERATION", 10242}};
  for (const Failing& f : failing) {
    Reply r;
    call(giopRequest(11, f.ref, f.op, [](CdrEncoder& e) { e.putULong(10032); }),
         r);
    EXPECT_EQ(r.system.id, "IDL:omg.org/CORBA/" + f.id + ":1.0") << f.op;
    EXPECT_EQ(r.system.minor, f.minor) << f.op;
    EXPECT_EQ(r.system.completed, CORBA::COMPLETED_NO);
  }
}

TEST_F(OrbIiopTest, IsAAndNonExistentForServedObjects) {
  for (const char* type :
       {"IDL:Account:1.0", "IDL:Other:1.0", "IDL:omg.org/CORBA/Object:1.0"}) {
    Reply r;
    call(giopRequest(1, kAcct, "_is_a",
                     [&](CdrEncoder& e) { e.putString(type); }),
         r);
    bool is = false;
    ASSERT_TRUE(r.body().getBoolean(is));
    EXPECT_EQ(is, std::string(type) != "IDL:Other:1.0") << type;
  }
  Reply gone;
  call(giopRequest(2, kAcct, "_non_existent"), gone);
  bool non_existent = true;
  ASSERT_TRUE(gone.body().getBoolean(non_existent));
  EXPECT_FALSE(non_existent);
}

// Forwards marker "fwd" to port 4321 at once and "later" to 4322 from a
// timer of the loop, as the daemon does once a launched server is up.
class ForwardingFilter : public protocol::RequestFilter {
 public:
  explicit ForwardingFilter(EventLoop& loop) : loop_(loop) {}
  bool failure(protocol::Request& r, CORBA::Environment&) override {
    if (r.peer.protocol != protocol::ProtocolKind::kIiop) return true;
    if (r.header.marker == "fwd") r.forward_port = 4321;
    if (r.header.marker == "later") {
      std::shared_ptr<protocol::Completion> done = r.defer();
      EXPECT_NE(done, nullptr);
      loop_.addTimer(std::chrono::milliseconds(20), [done] {
        done->request().forward_port = 4322;
        done->complete();
      });
    }
    return true;
  }

 private:
  EventLoop& loop_;
};

TEST_F(OrbIiopTest, LocateRequestsAndForwardsByAFailureHook) {
  server.server->stop();
  Orb& orb = server.server->orb;
  orb.dispatcher().filters().add(
      std::make_shared<ForwardingFilter>(orb.loop()));
  ServerThread::restart(*server.server);
  const std::string host = server.config.get().hostName();

  auto ref = [](const char* marker) {
    return std::string(":\\localhost:bank:") + marker + "::IR:Account";
  };
  struct Case {
    std::string marker;
    iiop::LocateStatus status;
    std::uint16_t port;
  };
  for (const Case& c :
       std::vector<Case>{{"acct1", iiop::LocateStatus::kObjectHere, 0},
                         {"nope", iiop::LocateStatus::kUnknownObject, 0},
                         {"fwd", iiop::LocateStatus::kObjectForward, 4321},
                         {"later", iiop::LocateStatus::kObjectForward, 4322}}) {
    SCOPED_TRACE(c.marker);
    const std::string key_text = ref(c.marker.c_str());
    iiop::MessageWriter w(MsgType::kLocateRequest, false);
    Bytes key(key_text.begin(), key_text.end());
    key.push_back(0);
    iiop::putLocateRequestHeader(w.body(), {33, key});
    RawPeer peer(server.port);
    peer.send(w.finish());
    Bytes pending;
    const Bytes m = nextMessage(peer, pending);
    iiop::MessageReader reader;
    ASSERT_EQ(iiop::openMessage(m, reader), nullptr);
    ASSERT_EQ(reader.header.type, 4);
    iiop::LocateReplyHeader h;
    ASSERT_EQ(iiop::getLocateReplyHeader(*reader.body, h), nullptr);
    EXPECT_EQ(h.request_id, 33u);
    EXPECT_EQ(h.locate_status, c.status);
    if (c.port == 0) continue;

    // A request for the same object is forwarded the same way.
    Reply r;
    call(giopRequest(34, key_text, "whoAmI"), r);
    ASSERT_EQ(r.header.reply_status, iiop::ReplyStatus::kLocationForward);
    protocol::IorProfile fwd;
    ASSERT_EQ(iiop::getIor(r.body(), fwd), nullptr);
    EXPECT_EQ(fwd.type_id, "IDL:Account:1.0");
    EXPECT_EQ(fwd.host, host);
    EXPECT_EQ(fwd.port, c.port);
    EXPECT_EQ(fwd.object_key, key);
  }
}

TEST_F(OrbIiopTest, ChecksOnEachMessageOnTheWire) {
  // A GIOP 1.1 request gets a MessageError and is not served; the
  // connection stays and serves a 1.0 request next.
  RawPeer peer(server.port);
  Bytes stream = giopRequest(1, kAcct, "notify",
                             [](CdrEncoder& e) { e.putString("v11"); });
  stream[5] = 1;
  const Bytes good = giopRequest(3, kAcct, "getName");
  stream.insert(stream.end(), good.begin(), good.end());
  peer.send(stream);
  Bytes pending;
  EXPECT_EQ(nextMessage(peer, pending), iiop::messageError());
  const Bytes m = nextMessage(peer, pending);
  ASSERT_GE(m.size(), 12u);
  EXPECT_EQ(m[7], 1);
  {
    std::lock_guard lock(server.seen.mu);
    EXPECT_TRUE(server.seen.notes.empty());
  }

  // Each of these closes the connection.
  Bytes bad_magic = good;
  bad_magic[0] = 'X';
  for (const Bytes& last :
       {iiop::messageError(), iiop::closeConnection(),
        iiop::encodeHeader(MsgType::kRequest, 0), bad_magic}) {
    RawPeer closing(server.port);
    Bytes s = good;  // "GIOP" first, so that the connection is IIOP's
    s.insert(s.end(), last.begin(), last.end());
    closing.send(s);
    EXPECT_TRUE(closing.closedBy());
  }
  ASSERT_TRUE(eventually(
      [&] { return server.context.count("End of IIOP Connection (") >= 4; }));
  EXPECT_GE(server.context.count("New IIOP Connection (127.0.0.1:127.0.0.1:"),
            4);
}

TEST_F(OrbIiopTest, BothProtocolsShareThePortWhileOthersStall) {
  RawPeer stalled(server.port);
  stalled.send(Bytes{'G', 'I', 'O', 'P', 1, 0, 1, 0, 100, 0, 0, 0, 1, 2});
  RawPeer garbage(server.port);
  garbage.send(Bytes{'G', 'I', 'O', 'P', 9, 9, 9, 9, 9, 0, 0,
                     0,   1,   2,   3,   4, 5, 6, 7, 8, 9});

  TestContext context;
  TestConfig config;
  Orb client(clientOptions(context, config));
  for (int i = 0; i < 3; ++i) {
    Reply r;
    call(giopRequest(i, kAcct, "getName"), r);
    std::optional<std::string> name;
    ASSERT_TRUE(r.body().getString(name));
    EXPECT_EQ(name, "lower");
    CallReply reply;
    ASSERT_EQ(client.call(server.target(), kGetName, {}, reply), nullptr);
    EXPECT_EQ(reply.result.text(), "lower");
  }
}

TEST(OrbIiopSetupTest, UnregisteredProtocolExtraListenersAndServerPorts) {
  TestContext context;
  TestConfig config(Values{{"QV_SERVER_NAME", "bank"}});
  Orb orb(clientOptions(context, config));
  EXPECT_TRUE(orb.hasProtocol("Talvo"));
  EXPECT_TRUE(orb.hasProtocol("IIOP"));
  Orb::IiopListener extra;
  ASSERT_EQ(orb.listenIiop("0", extra), nullptr);
  EXPECT_GE(extra.descriptor, 0);
  EXPECT_NE(extra.port, 0);

  // A server whose QV_IIOP_PORT is taken cannot initialise.
  TestConfig busy_config(Values{{"QV_SERVER_NAME", "bank"},
                                {"QV_IIOP_PORT", std::to_string(extra.port)}});
  Orb busy(clientOptions(context, busy_config));
  Status st = busy.initialiseServer("", false);
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->minor(), 10088u);

  orb.setIiopHandler(nullptr);
  EXPECT_FALSE(orb.hasProtocol("IIOP"));
  st = orb.listenIiop("0", extra);
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->bareName(), "BAD_PARAM");
  EXPECT_EQ(st->minor(), 10034u);
}

}  // namespace
}  // namespace talvo::testing
