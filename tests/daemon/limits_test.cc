// What clients cannot make talvod do: hold memory beyond its budget, keep
// a connection stalled inside a request, lock others out with idle
// connections, hold up others by pipelining, build huge values from a
// small request, echo a huge operation name, or start servers without
// bound. Each probe runs against a real talvod.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "support/runtime_peer.h"
#include "support/talvod.h"
#include "support/talvod_client.h"
#include "support/wire_frames.h"

namespace talvo::testing {
namespace {

using namespace std::chrono_literals;
using protocol::Value;

constexpr char kExistsSig[] = "Ro~serverExists~+serverName{0},>{b},N{}";

Bytes existsFrame(std::uint32_t id = 1) {
  return daemonRequestFrame(kExistsSig, {Value::ofString("none")}, id);
}

// Sends all of `bytes`, waiting while the socket is full; false when the
// peer closed, `stop` was set or ten seconds passed first.
bool sendAll(RawPeer& peer, ByteView bytes,
             const std::atomic<bool>* stop = nullptr) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!bytes.empty()) {
    if ((stop != nullptr && *stop) ||
        std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::size_t sent = 0;
    const int code =
        platform::sendPieces(peer.socket.get(), std::span(&bytes, 1), sent);
    if (code != 0 && code != platform::kWsaEwouldblock) return false;
    bytes = bytes.subspan(sent);
    std::vector<platform::WaitEntry> w{
        {peer.socket.get(), platform::kWaitWrite, 0}};
    int ready = 0;
    if (!bytes.empty()) platform::waitForEvents(w, 20, ready);
  }
  return true;
}

// The next whole reply frame on `peer` (what came within a few seconds).
Bytes reply(RawPeer& peer) {
  Bytes got = peer.receive(4);
  if (got.size() < 4) return got;
  const std::size_t whole =
      4 + ((std::size_t{got[1]} << 16) | (std::size_t{got[2]} << 8) | got[3]);
  if (got.size() < whole) {
    const Bytes rest = peer.receive(whole - got.size());
    got.insert(got.end(), rest.begin(), rest.end());
  }
  return got;
}

// Whether one request on `peer` is answered.
bool answers(RawPeer& peer, std::uint32_t id = 7) {
  return sendAll(peer, existsFrame(id)) && reply(peer).size() == 16;
}

// What is readable on `peer` now.
std::size_t drain(RawPeer& peer) {
  std::size_t total = 0;
  std::uint8_t buf[65536];
  for (;;) {
    std::size_t got = 0;
    if (platform::receiveSome(peer.socket.get(), buf, got) != 0 || got == 0) {
      return total;
    }
    total += got;
  }
}

std::unique_ptr<DaemonUnderTest> daemonWith(
    const std::string& settings, std::map<std::string, std::string> env = {}) {
  auto d = std::make_unique<DaemonUnderTest>(
      DaemonSetup{.settings = settings + "TraceLevel=0\n", .env = env});
  EXPECT_TRUE(d->ready()) << d->log();
  return d;
}

// --- Memory ---------------------------------------------------------------

TEST(DaemonLimits, PartialFramesStayWithinTheBudgetWhileOthersAreServed) {
  auto d = daemonWith("MaxBufferedBytes=4194304\n",
                      {{"QV_MAX_MESSAGE_SIZE", "1048576"}});
  const pid_t pid = d->process().pid();
  const long before = memoryKiB(pid, "VmRSS");
  // 100 connections each announce a 1 MB frame and send almost all of it.
  std::vector<std::unique_ptr<RawPeer>> hogs;
  const Bytes header = {0x00, 0x0f, 0xff, 0x00};
  const Bytes piece(64 * 1024, 0);
  for (int i = 0; i < 100; ++i) {
    hogs.push_back(std::make_unique<RawPeer>(d->port()));
    hogs.back()->send(header);
  }
  // Each sends up to 1 MB, as fast as the daemon (or the kernel) takes it.
  std::vector<std::size_t> sent(hogs.size(), 0);
  const auto until = std::chrono::steady_clock::now() + 1500ms;
  std::size_t done = 0;
  while (done < hogs.size() && std::chrono::steady_clock::now() < until) {
    done = 0;
    for (std::size_t i = 0; i < hogs.size(); ++i) {
      if (sent[i] < 1000000) sent[i] += hogs[i]->send(piece);
      done += sent[i] >= 1000000;
    }
  }
  RawPeer other(d->port());
  EXPECT_TRUE(answers(other));
  const long peak = memoryKiB(pid, "VmHWM");
  EXPECT_LT(peak - before, 16 * 1024) << "KiB grown, from " << before;
}

TEST(DaemonLimits, HugeCountRequestIsRefusedBeforeItsValuesAreBuilt) {
  auto d = daemonWith("");
  const pid_t pid = d->process().pid();
  const long before = memoryKiB(pid, "VmRSS");
  // addHostsToServer with two million empty host names: 8 MB on the wire.
  Bytes frame = daemonRequestFrame(
      "Ro~addHostsToServer~+server{0},+hostList{S{0},0},>{b},N{}",
      {Value::ofString("s"), Value::ofStrings({})});
  ASSERT_FALSE(frame.empty());
  const std::uint32_t count = 2000000;
  for (int i = 0; i < 4; ++i)
    frame[frame.size() - 4 + i] = count >> (24 - 8 * i);
  frame.resize(frame.size() + std::size_t{count} * 4, 0);
  const std::uint32_t body = static_cast<std::uint32_t>(frame.size() - 4);
  for (int i = 0; i < 4; ++i) frame[i] = body >> (24 - 8 * i);

  RawPeer peer(d->port());
  ASSERT_TRUE(sendAll(peer, frame));
  const Bytes answer = reply(peer);
  const std::string text(answer.begin(), answer.end());
  EXPECT_NE(text.find("MARSHAL"), std::string::npos) << text;
  EXPECT_LT(memoryKiB(pid, "VmHWM") - before, 40 * 1024);
}

// --- Connections ------------------------------------------------------------

TEST(DaemonLimits, StalledPartialFrameIsClosedIdleConnectionIsNot) {
  auto d = daemonWith("StallTimeout=300\n");
  RawPeer idle(d->port());
  ASSERT_TRUE(answers(idle)) << d->log();
  RawPeer stalled(d->port());
  Bytes part = existsFrame();
  part.resize(part.size() / 2);
  stalled.send(part);
  EXPECT_TRUE(stalled.closedBy());
  EXPECT_TRUE(answers(idle));
}

TEST(DaemonLimits, IdleConnectionsCannotLockOthersOut) {
  auto d = daemonWith("MaxConnections=20\n");
  std::vector<std::unique_ptr<RawPeer>> idle;
  for (int i = 0; i < 60; ++i) {
    idle.push_back(std::make_unique<RawPeer>(d->port()));
  }
  TalvodClient c(d->port());
  bool exists = true;
  EXPECT_EQ(c.serverExists("none", &exists), nullptr);
  // The oldest went first; the newest is still served.
  EXPECT_TRUE(idle.front()->closedBy());
  EXPECT_TRUE(answers(*idle.back()));
}

TEST(DaemonLimits, PipeliningClientDoesNotHoldUpAnother) {
  // At trace level 2 the daemon writes a line per request it serves, in
  // the order it serves them.
  auto d = daemonWith("TraceLevel=2\n");
  RawPeer greedy(d->port());
  Bytes burst;
  for (std::uint32_t i = 0; i < 20000; ++i) {
    const Bytes f = existsFrame(i + 1);
    burst.insert(burst.end(), f.begin(), f.end());
  }
  std::atomic<bool> stop{false};
  std::thread writer([&] { sendAll(greedy, burst, &stop); });
  std::size_t answered = 0;
  EXPECT_TRUE(eventually([&] { return (answered += drain(greedy)) > 0; }));
  RawPeer other(d->port());
  answered += drain(greedy);
  EXPECT_TRUE(
      sendAll(other, daemonRequestFrame(std::string(kPingSignature), {})));
  EXPECT_FALSE(reply(other).empty());
  stop = true;
  writer.join();
  // Requests of the greedy client served while the other one waited: a
  // pass's share or two, not a whole read's worth.
  std::string log;
  ASSERT_TRUE(eventually([&] {
    log = d->log();
    return log.find("`_QV_PING'") != std::string::npos;
  }));
  std::size_t before = 0;
  for (std::size_t at = log.find("`serverExists'"); at < log.find("`_QV_PING'");
       at = log.find("`serverExists'", at + 1)) {
    ++before;
  }
  EXPECT_LT(before - answered / 16, 500u)
      << before << " served, " << answered / 16 << " answered";
}

// --- Names and children ---------------------------------------------------

TEST(DaemonLimits, UnknownLongOperationNameIsCutInTheDetail) {
  auto d = daemonWith("");
  TalvodClient c(d->port());
  Target t;
  ASSERT_EQ(c.orb().daemonTarget("127.0.0.1", t), nullptr);
  CallReply reply;
  Status st = c.orb().call(t, "Ro~" + std::string(100000, 'x') + "~,>{v},N{}",
                           {}, reply);
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->bareName(), "BAD_OPERATION");
  ASSERT_TRUE(st->detail().has_value());
  EXPECT_EQ(*st->detail(), std::string(128, 'x') + "...");
}

TEST(DaemonLimits, LaunchesStopAtTheChildCap) {
  auto d = daemonWith("MaxChildren=2\n");
  TalvodClient c(d->port());
  ASSERT_EQ(c.newPerMethodServer("pm", client::Strings{"m"},
                                 client::Strings{"sleep 30"}),
            nullptr);
  client::ImplementationDetails details;
  EXPECT_EQ(c.getImplementationDetails("pm", "", "m", &details), nullptr);
  EXPECT_EQ(c.getImplementationDetails("pm", "", "m", &details), nullptr);
  Status st = c.getImplementationDetails("pm", "", "m", &details);
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->bareName(), "IMP_LIMIT");
  EXPECT_EQ(st->minor(), 10062u);
}

}  // namespace
}  // namespace talvo::testing
