// Calls over IIOP: a client Orb calls the test object of a server Orb by
// GIOP 1.0 on the server's port (which the broker protocol shares), and a
// server whose failure hook forwards sends the call on with the reference
// kept for the caller.

#include <gtest/gtest.h>

#include "orb_test_util.h"
#include "runtime/protocol/request_filter.h"

namespace talvo::testing {
namespace {

using protocol::Value;

// Forwards every failed request to `port`.
class ForwardEverything : public protocol::RequestFilter {
 public:
  explicit ForwardEverything(std::uint16_t port) : port_(port) {}
  bool failure(protocol::Request& request, CORBA::Environment&) override {
    request.forward_port = port_;
    return true;
  }

 private:
  std::uint16_t port_;
};

class OrbIiopCallTest : public ::testing::Test {
 protected:
  Target iiop(const AccountServer& at, const std::string& marker = "acct1") {
    Target t = at.target(marker);
    t.iiop = true;
    return t;
  }

  AccountServer server;
  TestContext context;
  TestConfig config;
  Orb client{clientOptions(context, config)};
  CallReply reply;
};

TEST_F(OrbIiopCallTest, ValuesPrincipalAndExceptionsTravelAsGiop) {
  ASSERT_EQ(client.call(iiop(server), kDeposit,
                        {Value::ofLong(5), {}, Value::ofString("memo")}, reply),
            nullptr);
  EXPECT_EQ(reply.args[1].as<std::int32_t>(), 105);
  EXPECT_EQ(reply.args[2].text(), "memo!");
  EXPECT_TRUE(reply.result.as<bool>());
  // The requesting principal is the user.
  ASSERT_EQ(client.call(iiop(server), kWhoAmI, {{}, {}}, reply), nullptr);
  EXPECT_EQ(reply.args[0].text(), config.get().userName());

  Status st = client.call(iiop(server), kFail, {Value::ofULong(10032)}, reply);
  ASSERT_NE(dynamic_cast<CORBA::BAD_PARAM*>(st.get()), nullptr);
  EXPECT_EQ(st->minor(), 10032u);
  ASSERT_EQ(client.call(iiop(server), kFailUser, {}, reply), nullptr);
  ASSERT_NE(reply.user_exception, nullptr);
  EXPECT_EQ(reply.user_exception->name(), "Account::Overdrawn");
  st = client.call(iiop(server, "nobody-here"), kGetName, {}, reply);
  ASSERT_NE(dynamic_cast<CORBA::INV_OBJREF*>(st.get()), nullptr);
  EXPECT_FALSE(reply.forward);
  // A broker-protocol call to the same port has a channel of its own.
  ASSERT_EQ(client.call(server.target(), kGetName, {}, reply), nullptr);
  EXPECT_EQ(client.loop().channelCount(), 2u);
}

TEST_F(OrbIiopCallTest, ForwardEndsTheCallAndKeepsTheReference) {
  // A front server that has no object and forwards every failure.
  AccountServer front;
  front.server->stop();
  front.server->orb.withdraw("Account", "acct1");
  front.server->orb.dispatcher().filters().add(
      std::make_shared<ForwardEverything>(server.port));
  ServerThread::restart(*front.server);

  Status st = client.call(iiop(front), kGetName, {}, reply);
  ASSERT_NE(dynamic_cast<CORBA::IIOP*>(st.get()), nullptr);
  EXPECT_EQ(st->minor(), 10601u);
  EXPECT_EQ(st->completed(), CORBA::COMPLETED_NO);
  ASSERT_TRUE(reply.forward);
  EXPECT_EQ(reply.forward->type_id, "IDL:Account:1.0");
  EXPECT_EQ(reply.forward->port, server.port);
  // The reference names the same object, at the forwarded port of the
  // front's host (this one: reached by loopback here).
  Target next = iiopTarget(*reply.forward);
  EXPECT_TRUE(next.iiop);
  EXPECT_EQ(next.ref.toString(), iiop(front).ref.toString());
  next.host = "127.0.0.1";
  ASSERT_EQ(client.call(next, kGetName, {}, reply), nullptr);
  EXPECT_EQ(reply.result.text(), "lower");
}

}  // namespace
}  // namespace talvo::testing
