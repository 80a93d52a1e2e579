// Requests and replies over loopback: a server Orb on its own thread serves
// the test object; client Orbs call it.

#include <gtest/gtest.h>

#include "orb_test_util.h"

namespace talvo::testing {
namespace {

using protocol::Value;

class OrbCallTest : public ::testing::Test {
 protected:
  AccountServer server;
  TestContext context;
  TestConfig config;
  Orb client{clientOptions(context, config)};
  CallReply reply;
};

// --- Round trips -------------------------------------------------------

TEST_F(OrbCallTest, NormalReplyCarriesOutInoutAndResult) {
  ASSERT_EQ(client.call(server.target(), kDeposit,
                        {Value::ofLong(5), {}, Value::ofString("memo")}, reply),
            nullptr);
  ASSERT_EQ(reply.args.size(), 3u);
  EXPECT_EQ(reply.args[0].as<std::int32_t>(), 5);  // in value as sent
  EXPECT_EQ(reply.args[1].as<std::int32_t>(), 105);
  EXPECT_EQ(reply.args[2].text(), "memo!");
  EXPECT_TRUE(reply.result.as<bool>());
  EXPECT_EQ(reply.user_exception, nullptr);
  // One channel, reused by the next call.
  ASSERT_EQ(client.call(server.target(), kGetName, {}, reply), nullptr);
  EXPECT_EQ(client.loop().channelCount(), 1u);
}

TEST_F(OrbCallTest, BindingExchangeGivesPrincipalAndPid) {
  ASSERT_EQ(client.call(server.target(), kWhoAmI, {{}, {}}, reply), nullptr);
  EXPECT_EQ(reply.args[0].text(), config.get().userName());
  EXPECT_EQ(reply.args[1].as<std::uint32_t>(), 4242u);
  EXPECT_EQ(server.context.count(",pid=4242) ]"), 1);
  // The client's session learned the server's identity; the peer's
  // addresses are the channel's.
  Channel* ch = client.findChannel([](const Channel&, const Session& s) {
    return s.serverName() == "bank";
  });
  ASSERT_NE(ch, nullptr);
  const Session* session = client.session(ch->id());
  EXPECT_EQ(session->processId(), 777u);
  EXPECT_EQ(session->info.identity.peer.port, server.port);
  EXPECT_EQ(session->info.identity.local.address, 0x7f000001u);
  EXPECT_EQ(session->info.identity.channel, ch->id());
  EXPECT_EQ(context.count("New Connection ("), 1);
}

TEST_F(OrbCallTest, OnewayHasNoReplyAndKeepsOrder) {
  ASSERT_EQ(
      client.call(server.target(), kNotify, {Value::ofString("a")}, reply),
      nullptr);
  ASSERT_EQ(
      client.call(server.target(), kNotify, {Value::ofString("b")}, reply),
      nullptr);
  // A two-way call on the same channel is answered after both.
  ASSERT_EQ(client.call(server.target(), kGetName, {}, reply), nullptr);
  std::lock_guard lock(server.seen.mu);
  EXPECT_EQ(server.seen.notes, (std::vector<std::string>{"a", "b"}));
}

TEST_F(OrbCallTest, OptimisedChannelsUseTheNativeCodec) {
  AccountServer fast(/*optimise=*/true);
  Orb quick(clientOptions(context, config, 4242, /*optimise=*/true));
  ASSERT_EQ(quick.call(fast.target(), kDeposit,
                       {Value::ofLong(1), {}, Value::ofString("")}, reply),
            nullptr);
  EXPECT_EQ(reply.args[1].as<std::int32_t>(), 101);
  EXPECT_EQ(fast.context.count(",optimised) ]"), 1);
  // An optimising client with a plain server stays on XDR.
  ASSERT_EQ(quick.call(server.target(), kGetName, {}, reply), nullptr);
  EXPECT_EQ(reply.result.text(), "lower");
  EXPECT_EQ(server.context.count(",optimised) ]"), 0);
}

// --- Error paths -------------------------------------------------------

TEST_F(OrbCallTest, ExceptionReplies) {
  Status st =
      client.call(server.target(), kFail, {Value::ofULong(10032)}, reply);
  ASSERT_NE(st, nullptr);
  EXPECT_NE(dynamic_cast<CORBA::BAD_PARAM*>(st.get()), nullptr);
  EXPECT_EQ(st->minor(), 10032u);
  EXPECT_EQ(st->completed(), CORBA::COMPLETED_NO);
  EXPECT_EQ(st->detail(), "no such account");

  ASSERT_EQ(client.call(server.target(), kFailUser, {}, reply), nullptr);
  ASSERT_NE(reply.user_exception, nullptr);
  EXPECT_EQ(reply.user_exception->name(), "Account::Overdrawn");
  EXPECT_EQ(reply.user_members, (Bytes{0, 0, 0, 42}));  // its member
}

TEST_F(OrbCallTest, ArgumentsThatDoNotMatchTheSignature) {
  // Too few arguments on the wire for the server's signature.
  Status st = client.call(server.target(), "Ro~deposit~,>{b},N{}", {}, reply);
  ASSERT_NE(dynamic_cast<CORBA::MARSHAL*>(st.get()), nullptr);
  // A string where a long is expected: the bytes read as a huge length.
  st = client.call(server.target(), "Ro~deposit~+amount{0},*note{l},>{b},N{}",
                   {Value::ofString("x"), Value::ofLong(-1)}, reply);
  ASSERT_NE(dynamic_cast<CORBA::MARSHAL*>(st.get()), nullptr);
  // The channel still serves.
  EXPECT_EQ(client.call(server.target(), kGetName, {}, reply), nullptr);

  // Wrong value count or a malformed signature: nothing is sent.
  st = client.call(server.target(), kDeposit, {Value::ofLong(1)}, reply);
  ASSERT_NE(dynamic_cast<CORBA::MARSHAL*>(st.get()), nullptr);
  st = client.call(server.target(), "Ro~broken", {}, reply);
  ASSERT_NE(dynamic_cast<CORBA::MARSHAL*>(st.get()), nullptr);
  EXPECT_EQ(server.context.count("New Connection ("), 1);
}

}  // namespace
}  // namespace talvo::testing
