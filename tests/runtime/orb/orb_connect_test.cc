// Connections, binding to objects, the daemon's target, misbehaving peers
// and server initialisation.

#include <gtest/gtest.h>

#include <chrono>

#include "orb_test_util.h"
#include "platform/socket.h"
#include "runtime/protocol/frame.h"
#include "support/ports.h"
#include "support/runtime_peer.h"

namespace talvo::testing {
namespace {

using Clock = std::chrono::steady_clock;
using protocol::Value;

// --- Connecting -------------------------------------------------------

// The binding exchange is bounded by the reply time-out, and an answer
// that is not a binding message fails it; either way the channel goes.
TEST(OrbConnectTest, BindingExchangeThatFails) {
  LoopbackListener peer;  // the kernel completes the handshakes
  TestContext context;
  TestConfig config;
  OrbOptions options = clientOptions(context, config);
  options.reply_timeout_ms = 200;
  Orb client(options);
  Target t;
  t.host = "127.0.0.1";
  t.port = std::to_string(peer.port());
  CallReply reply;
  Status st = client.call(t, kGetName, {}, reply);  // nobody answers
  ASSERT_NE(dynamic_cast<CORBA::COMM_FAILURE*>(st.get()), nullptr);
  EXPECT_EQ(st->minor(), 10087u);
  EXPECT_EQ(client.loop().channelCount(), 0u);

  Status answered;
  bool finished = false;
  client.callAsync(t, kGetName, {}, Clock::time_point::max(),
                   [&](Status s, CallReply&) {
                     answered = std::move(s);
                     finished = true;
                   });
  while (client.loop().channelCount() < 1) client.loop().runOnce(10);
  // The backlog holds the first, timed-out connection, then this one.
  platform::SocketHandle stale, conn;
  platform::SocketAddress from;
  ASSERT_EQ(platform::acceptConnection(peer.fd(), stale, from), 0);
  ASSERT_EQ(platform::acceptConnection(peer.fd(), conn, from), 0);
  RawPeer(std::move(conn))
      .send(makeTalvoFrame(Bytes{0, 0, 0, 1, 0, 0, 0, 7}));  // a reply
  ASSERT_EQ(client.loop().runUntil([&] { return finished; },
                                   Clock::now() + std::chrono::seconds(5)),
            nullptr);
  ASSERT_NE(dynamic_cast<CORBA::COMM_FAILURE*>(answered.get()), nullptr);
  EXPECT_EQ(answered->minor(), 10090u);
  EXPECT_EQ(client.loop().channelCount(), 0u);
}

// --- Calls that wait -------------------------------------------------------

// A served operation that must ask a peer which never answers: its reply
// is deferred, the server goes on serving others meanwhile, and the
// operation fails by its call's deadline.
TEST(OrbDeferredTest, WaitingHandlerDelaysNobodyAndFailsByItsDeadline) {
  LoopbackListener mute;  // accepts (in the kernel), never answers

  AccountServer server;
  server.server->stop();
  Orb& orb = server.server->orb;
  auto relay = std::make_shared<protocol::Interface>("Relay");
  relay->addDeferredOperation(
      kGetName,
      [&orb, port = mute.port()](std::shared_ptr<protocol::Completion> done) {
        Target silent;
        silent.host = "127.0.0.1";
        silent.port = std::to_string(port);
        orb.callAsync(silent, kGetName, {},
                      Clock::now() + std::chrono::milliseconds(300),
                      [done](Status st, CallReply& reply) {
                        if (st) done->request().raise(*st);
                        done->request().result = std::move(reply.result);
                        done->complete();
                      });
      });
  orb.serve("acct1", relay);
  ServerThread::restart(*server.server);

  TestContext context;
  TestConfig config;
  Orb client(clientOptions(context, config));
  Status relayed;
  bool finished = false;
  const auto start = Clock::now();
  client.callAsync(server.target("acct1", "Relay"), kGetName, {},
                   Clock::time_point::max(), [&](Status st, CallReply&) {
                     relayed = std::move(st);
                     finished = true;
                   });
  for (int i = 0; i < 10; ++i) {
    const auto call = Clock::now();
    CallReply reply;
    ASSERT_EQ(client.call(server.target(), kGetName, {}, reply), nullptr);
    EXPECT_LT(Clock::now() - call, std::chrono::milliseconds(150));
  }
  EXPECT_FALSE(finished);
  ASSERT_EQ(client.loop().runUntil([&] { return finished; },
                                   Clock::now() + std::chrono::seconds(10)),
            nullptr);
  ASSERT_NE(dynamic_cast<CORBA::COMM_FAILURE*>(relayed.get()), nullptr);
  EXPECT_EQ(relayed->minor(), 10087u);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300));
}

// --- Binding to objects and the daemon ------------------------------------

TEST(OrbBindTest, BindPingsTheObject) {
  AccountServer server;
  TestContext context;
  TestConfig config(Values{{"QV_LOCAL_DOMAIN", "example.org"}});
  Orb client(clientOptions(context, config));
  Target t;
  ASSERT_EQ(
      client.bind("acct1", "bank", "127.0.0.1", std::to_string(server.port), t),
      nullptr);
  EXPECT_EQ(t.ref.interfaceName(), "CORBA::Object");
  EXPECT_EQ(t.ref.marker(), "acct1");
  // The object answers the ping under its own interface too.
  EXPECT_EQ(client.ping(server.target()), nullptr);

  Target none;
  Status st = client.bind("acct9", "bank", "127.0.0.1",
                          std::to_string(server.port), none);
  ASSERT_NE(dynamic_cast<CORBA::INV_OBJREF*>(st.get()), nullptr);
  EXPECT_EQ(st->minor(), 10101u);
}

TEST(OrbBindTest, DaemonTargetFollowsDaemonPortAndProtocol) {
  TestContext context;
  TestConfig config(Values{{"QV_DAEMON_PORT", "1570"}});
  Orb client(clientOptions(context, config));
  Target t;
  ASSERT_EQ(client.daemonTarget("127.0.0.1", t), nullptr);
  EXPECT_EQ(t.port, "1570");
  EXPECT_FALSE(t.iiop);
  EXPECT_EQ(t.ref.toString(), ":\\127.0.0.1:QV_daemon:::IR:QV_daemon");

  TestConfig iiop_config(
      {{"QV_DAEMON_PORT", "10621"}, {"QV_DAEMON_PROTOCOL", "IIOP"}});
  Orb iiop_client(clientOptions(context, iiop_config));
  ASSERT_EQ(iiop_client.daemonTarget("127.0.0.1", t), nullptr);
  EXPECT_TRUE(t.iiop);
}

// --- Server initialisation ------------------------------------------------

TEST(OrbServerInitTest, WithoutRegistration) {
  TestContext context;
  TestConfig config(Values{{"QV_SERVER_NAME", "bank"}});
  Orb orb(clientOptions(context, config));
  Status st = orb.initialiseServer("other", false);
  ASSERT_NE(dynamic_cast<CORBA::BAD_PARAM*>(st.get()), nullptr);
  EXPECT_EQ(st->minor(), 10022u);

  ASSERT_EQ(orb.initialiseServer("bank", false), nullptr);
  EXPECT_TRUE(orb.initialised());
  const std::string port = config.get().serverPort();
  EXPECT_NE(port, "0");
  std::vector<std::string> lines = context.lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2],
            "[test: Server \"bank\" is now available to the network ]");
  EXPECT_EQ(lines.back(), "[ Configuration tcp/" + port + "/xdr ]");

  // A second server on the same port cannot listen.
  TestContext busy_context;
  TestConfig busy_config(
      {{"QV_SERVER_NAME", "bank"}, {"QV_SERVER_PORT", port}});
  Orb busy(clientOptions(busy_context, busy_config));
  st = busy.initialiseServer("", false);
  ASSERT_NE(dynamic_cast<CORBA::COMM_FAILURE*>(st.get()), nullptr);
  EXPECT_EQ(st->minor(), 10088u);
  EXPECT_EQ(busy_context.lines().back(),
            "[test: Initialisation of server \"bank\" failed... ]");

  // Diagnostics level 0: no lines.
  TestContext quiet_context;
  quiet_context.level = 0;
  TestConfig quiet_config(Values{{"QV_SERVER_NAME", "bank"}});
  Orb quiet(clientOptions(quiet_context, quiet_config));
  ASSERT_EQ(quiet.initialiseServer("", false), nullptr);
  EXPECT_TRUE(quiet_context.lines().empty());
}

TEST(OrbServerInitTest, WithRegistrationUsesTheRegistrar) {
  TestContext context;
  TestConfig config(Values{{"QV_SERVER_NAME", "bank"}});
  Orb orb(clientOptions(context, config));
  Status st = orb.initialiseServer("bank", true);
  ASSERT_NE(dynamic_cast<CORBA::INITIALIZE*>(st.get()), nullptr);

  orb.setRegistrar([](const std::string& name, ServerRegistration& out) {
    EXPECT_EQ(name, "teller");
    out = {"0", "tcp", "xdr"};
    return Status();
  });
  ASSERT_EQ(orb.initialiseServer("teller", true), nullptr);
  EXPECT_STREQ(config.get().serverName(), "teller");
  EXPECT_STREQ(config.get().serverComms(), "tcp");
  EXPECT_EQ(context.count("Server \"teller\" is now available"), 1);
}

}  // namespace
}  // namespace talvo::testing
