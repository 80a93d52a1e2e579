// Connections, binding to objects, the daemon's target, misbehaving peers
// and server initialisation.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "orb_test_util.h"
#include "platform/errors.h"
#include "platform/socket.h"
#include "runtime/transport/frame.h"

namespace talvo::testing {
namespace {

using Clock = std::chrono::steady_clock;
using protocol::Value;

// A port on which nobody listens.
std::uint16_t deadPort() {
  platform::SocketHandle s;
  platform::openStreamSocket(s);
  platform::bindAny(s.get(), 0);
  platform::SocketAddress local;
  platform::localAddress(s.get(), local);
  return local.port;  // closed when `s` goes
}

// A raw peer that connects and writes what it is told, never reading.
struct RawPeer {
  platform::SocketHandle socket;
  explicit RawPeer(platform::SocketHandle s) : socket(std::move(s)) {}
  explicit RawPeer(std::uint16_t port) {
    platform::openStreamSocket(socket);
    int code = platform::startConnect(socket.get(), {0x7f000001, port});
    if (code == platform::kWsaEinprogress) {
      platform::finishConnect(socket.get(), 5000);
    }
  }
  std::size_t send(ByteView bytes) {
    std::size_t sent = 0;
    platform::sendPieces(socket.get(), std::span(&bytes, 1), sent);
    return sent;
  }
};

// --- Connecting -------------------------------------------------------

TEST(OrbConnectTest, RefusedConnectionIsRetriedPerConnectAttempts) {
  TestContext context;
  context.attempts = "3";
  TestConfig config;
  Orb client(clientOptions(context, config));
  Target t;
  t.host = "127.0.0.1";
  t.port = std::to_string(deadPort());
  CallReply reply;
  Status st = client.call(t, kGetName, {}, reply);
  ASSERT_NE(dynamic_cast<CORBA::COMM_FAILURE*>(st.get()), nullptr);
  EXPECT_EQ(st->minor(), 10085u);
  EXPECT_EQ(context.count("Retrying connection to host `127.0.0.1' port " +
                          t.port + "]"),
            3);

  // Without retries: one attempt, no retry line.
  TestContext once_context;
  once_context.attempts = "3";
  OrbOptions options = clientOptions(once_context, config);
  options.connect_retries = false;
  Orb once(options);
  st = once.call(t, kGetName, {}, reply);
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->minor(), 10085u);
  EXPECT_EQ(once_context.count("Retrying"), 0);
}

TEST(OrbConnectTest, SilentPeerBoundsTheBindingExchange) {
  // Listens (the kernel completes the handshake) but never answers.
  platform::SocketHandle mute;
  platform::openStreamSocket(mute);
  platform::bindAny(mute.get(), 0);
  platform::listenOn(mute.get(), 5);
  platform::SocketAddress local;
  platform::localAddress(mute.get(), local);

  TestContext context;
  TestConfig config;
  OrbOptions options = clientOptions(context, config);
  options.reply_timeout_ms = 200;
  Orb client(options);
  Channel* ch = nullptr;
  const auto start = Clock::now();
  Status st = client.connect("127.0.0.1", std::to_string(local.port), &ch);
  ASSERT_NE(dynamic_cast<CORBA::COMM_FAILURE*>(st.get()), nullptr);
  EXPECT_EQ(st->minor(), 10087u);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(client.loop().channelCount(), 0u);
}

TEST(OrbConnectTest, AnswerThatIsNotABindingMessageFailsTheExchange) {
  platform::SocketHandle listener;
  platform::openStreamSocket(listener);
  platform::bindAny(listener.get(), 0);
  platform::listenOn(listener.get(), 5);
  platform::SocketAddress local;
  platform::localAddress(listener.get(), local);
  std::atomic<bool> done{false};
  std::thread peer([&] {
    std::vector<platform::WaitEntry> w{
        {listener.get(), platform::kWaitRead, 0}};
    int ready = 0;
    platform::waitForEvents(w, 5000, ready);
    platform::SocketHandle conn;
    platform::SocketAddress addr;
    platform::acceptConnection(listener.get(), conn, addr);
    RawPeer answer{std::move(conn)};
    answer.send(makeTalvoFrame(Bytes{0, 0, 0, 1, 0, 0, 0, 7}));  // a reply
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  });
  TestContext context;
  TestConfig config;
  Orb client(clientOptions(context, config));
  Channel* ch = nullptr;
  Status st = client.connect("127.0.0.1", std::to_string(local.port), &ch);
  done = true;
  peer.join();
  ASSERT_NE(dynamic_cast<CORBA::COMM_FAILURE*>(st.get()), nullptr);
  EXPECT_EQ(st->minor(), 10090u);
  EXPECT_EQ(client.loop().channelCount(), 0u);
}

// --- Misbehaving peers ---------------------------------------------------

TEST(OrbStallTest, StalledAndNonReadingPeersDelayNobody) {
  AccountServer server;
  // Half a frame, then silence.
  RawPeer stalled(server.port);
  Bytes half = makeTalvoFrame(Bytes(64, 0));
  ASSERT_EQ(stalled.send(ByteView(half).first(20)), 20u);

  // Requests with large replies, sent until the server stops taking them
  // (its queue of unread replies is full); never reads a byte.
  RawPeer hog(server.port);
  protocol::Signature sig;
  ASSERT_EQ(protocol::parseSignature(kEcho, sig), nullptr);
  std::vector<Value> args{Value::ofOctets(Bytes(256 * 1024, 1))};
  auto enc = protocol::makeEncoder(protocol::CodecKind::kXdr);
  ASSERT_EQ(protocol::encodeRequest(
                *enc, server.target().ref.requestHeader("echo", 1), sig, args),
            nullptr);
  const Bytes frame = makeTalvoFrame(enc->bytes());
  std::size_t total = 0;
  int refused = 0;
  for (int i = 0; i < 5000 && refused < 20; ++i) {
    const std::size_t at = total % frame.size();
    const std::size_t sent = hog.send(ByteView(frame).subspan(at));
    total += sent;
    if (sent == 0) {
      ++refused;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  EXPECT_GT(total, 4u * 1024 * 1024);  // more than the server queues

  TestConfig config;
  TestContext context;
  Orb client(clientOptions(context, config));
  CallReply reply;
  const auto start = Clock::now();
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(client.call(server.target(), kGetName, {}, reply), nullptr);
  }
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
}

// --- Binding to objects and the daemon ------------------------------------

TEST(OrbBindTest, BindPingsTheObject) {
  AccountServer server;
  TestContext context;
  TestConfig config({{"QV_LOCAL_DOMAIN", "example.org"}});
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
  for (const char* port : std::initializer_list<const char*>{"", nullptr}) {
    std::map<std::string, std::string> values;
    if (port != nullptr) values["QV_DAEMON_PORT"] = port;
    TestConfig config(values);
    Orb client(clientOptions(context, config));
    Target t;
    Status st = client.daemonTarget("127.0.0.1", t);
    ASSERT_NE(dynamic_cast<CORBA::NO_CONFIG_VALUE*>(st.get()), nullptr);
    EXPECT_EQ(st->minor(), 10621u);
  }

  // A stand-in daemon: interface QV_daemon under the empty marker.
  TestConfig server_config;
  ServerThread daemon(clientOptions(context, server_config, 1));
  auto iface = std::make_shared<protocol::Interface>("QV_daemon");
  ASSERT_EQ(iface->addOperation("Ro~getVersion~,>{0},N{}",
                                [](protocol::Request& r) {
                                  r.result = Value::ofString("2.3c");
                                }),
            nullptr);
  daemon.orb.serve("", iface);
  std::uint16_t port = 0;
  ASSERT_EQ(daemon.orb.listen("0", &port), nullptr);
  daemon.start();

  TestConfig config({{"QV_DAEMON_PORT", std::to_string(port)}});
  Orb client(clientOptions(context, config));
  Target t;
  ASSERT_EQ(client.daemonTarget("127.0.0.1", t), nullptr);
  EXPECT_EQ(t.ref.toString(), ":\\127.0.0.1:QV_daemon:::IR:QV_daemon");
  CallReply reply;
  ASSERT_EQ(client.call(t, "Ro~getVersion~,>{0},N{}", {}, reply), nullptr);
  EXPECT_EQ(reply.result.text(), "2.3c");

  TestConfig iiop_config(
      {{"QV_DAEMON_PORT", "10621"}, {"QV_DAEMON_PROTOCOL", "IIOP"}});
  Orb iiop_client(clientOptions(context, iiop_config));
  ASSERT_EQ(iiop_client.daemonTarget("127.0.0.1", t), nullptr);
  EXPECT_TRUE(t.iiop);
  Status st = iiop_client.call(t, "Ro~getVersion~,>{0},N{}", {}, reply);
  ASSERT_NE(dynamic_cast<CORBA::BAD_PARAM*>(st.get()), nullptr);
  EXPECT_EQ(st->minor(), 10034u);
}

// --- Server initialisation ------------------------------------------------

TEST(OrbServerInitTest, WithoutRegistration) {
  TestContext context;
  TestConfig config({{"QV_SERVER_NAME", "bank"}});
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
  TestConfig quiet_config({{"QV_SERVER_NAME", "bank"}});
  Orb quiet(clientOptions(quiet_context, quiet_config));
  ASSERT_EQ(quiet.initialiseServer("", false), nullptr);
  EXPECT_TRUE(quiet_context.lines().empty());
}

TEST(OrbServerInitTest, WithRegistrationUsesTheRegistrar) {
  TestContext context;
  TestConfig config({{"QV_SERVER_NAME", "bank"}});
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
