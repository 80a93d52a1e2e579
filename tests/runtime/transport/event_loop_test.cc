// The event loop's channels over real loopback sockets: one loop serves an
// echo of whatever bytes arrive and, through the same loop, the test's own
// client channels; raw sockets play misbehaving peers.

#include "runtime/transport/event_loop.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "support/ports.h"
#include "support/runtime_peer.h"
#include "support/transport_context.h"

namespace talvo::testing {
namespace {

using Clock = std::chrono::steady_clock;

Bytes bytesOf(std::size_t size, char fill) { return Bytes(size, fill); }

class EventLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    loop_ = std::make_unique<EventLoop>(context_);
    EventLoopCallbacks callbacks;
    callbacks.on_data = [this](Channel& ch, ByteView bytes) {
      if (ch.outgoing()) {
        Bytes& got = received_[ch.id()];
        got.insert(got.end(), bytes.begin(), bytes.end());
      } else {
        served_ += bytes.size();
        loop_->send(ch, bytes);  // echo
      }
      return DataState{};
    };
    callbacks.on_closed = [this](Channel& ch,
                                 const CORBA::SystemException* reason) {
      closed_.push_back({ch.outgoing(), reason ? reason->bareName() : "",
                         reason ? reason->minor() : 0u});
    };
    loop_->setCallbacks(callbacks);
    ASSERT_EQ(loop_->listen("0", &port_), nullptr);
  }

  Channel& client() {
    Channel* ch = nullptr;
    EXPECT_EQ(loop_->connectOnce("127.0.0.1", port_, &ch), nullptr);
    return *ch;
  }

  // Waits until `count` echoed bytes have come back on `ch`; returns them
  // (and forgets them).
  Bytes echoed(Channel& ch, std::size_t count) {
    Bytes& got = received_[ch.id()];
    EXPECT_EQ(loop_->runUntil([&] { return got.size() >= count; },
                              Clock::now() + std::chrono::seconds(5)),
              nullptr);
    return std::exchange(got, {});
  }

  // Sends `bytes` and waits for their echo; returns the time it took.
  Clock::duration roundTrip(Channel& ch, const Bytes& bytes) {
    const auto start = Clock::now();
    EXPECT_EQ(loop_->send(ch, ByteView(bytes)), nullptr);
    EXPECT_EQ(echoed(ch, bytes.size()), bytes);
    return Clock::now() - start;
  }

  struct Closed {
    bool outgoing;
    std::string name;
    std::uint32_t minor;
  };

  RecordingContext context_;
  std::unique_ptr<EventLoop> loop_;
  std::uint16_t port_ = 0;
  std::size_t served_ = 0;
  std::map<std::uint64_t, Bytes> received_;
  std::vector<Closed> closed_;
};

// --- Round trips ----------------------------------------------------------

TEST_F(EventLoopTest, EchoesBytesOfManySizesAndChunkedBuffers) {
  Channel& ch = client();
  char fill = 'a';
  for (std::size_t size : {1, 4, 8192, 70000, 1 << 20}) {
    roundTrip(ch, bytesOf(size, fill++));
  }
  MessageBuffer message;
  message.write(bytesOf(8000, 'p'));
  message.write(bytesOf(20000, 'q'));
  message.finish();
  ASSERT_EQ(loop_->send(ch, std::move(message)), nullptr);
  Bytes back = echoed(ch, 28004);
  ASSERT_EQ(back.size(), 28004u);
  EXPECT_EQ(back[3], 0x60);  // the length 28000 in front
  EXPECT_EQ(back[4], 'p');
  EXPECT_EQ(back.back(), 'q');
}

TEST_F(EventLoopTest, BytesFollowedByTheCloseAreServedFirst) {
  // The bytes and the end of stream may come in one wake-up; the bytes are
  // answered before the connection ends, and the end is no failure.
  RawPeer last(port_);
  const Bytes words = bytesOf(300, 'w');
  ASSERT_EQ(last.send(words), words.size());
  ::shutdown(last.socket.get(), SHUT_WR);
  EXPECT_EQ(last.receive(words.size(), loop_.get()), words);
  for (int i = 0; i < 50 && closed_.empty(); ++i) loop_->runOnce(20);
  ASSERT_EQ(closed_.size(), 1u);
  EXPECT_EQ(closed_[0].name, "");
}

// --- Peers that misbehave ---------------------------------------------------

TEST_F(EventLoopTest, NonReadingPeerDelaysNobody) {
  // 256 KiB pieces echoed back to a peer that never reads: the echo fills
  // its socket, then the loop's queue, then the loop stops reading it.
  RawPeer hog(port_);
  const Bytes piece = bytesOf(256 * 1024, 'h');
  std::size_t pushed = 0;
  for (int round = 0; round < 400; ++round) {
    pushed += hog.send(ByteView(piece).subspan(pushed % piece.size()));
    loop_->runOnce(1);
  }
  ASSERT_GT(pushed, 8u * piece.size());  // well beyond the socket buffers
  Channel& ch = client();
  for (int i = 0; i < 20; ++i) {
    EXPECT_LT(roundTrip(ch, bytesOf(5, 's')), std::chrono::milliseconds(500));
  }
  EXPECT_TRUE(closed_.empty());
  EXPECT_EQ(loop_->channelCount(), 3u);
}

TEST_F(EventLoopTest, ManyReadyConnectionsAreServedAFewAtATimeInTurn) {
  // Twenty peers ready at once: a pass serves eight of them, the next
  // passes the others, and none is served twice before all had a turn.
  std::vector<std::unique_ptr<RawPeer>> peers;
  for (int i = 0; i < 20; ++i)
    peers.push_back(std::make_unique<RawPeer>(port_));
  ASSERT_EQ(loop_->runUntil([&] { return loop_->channelCount() == 20; },
                            Clock::now() + std::chrono::seconds(5)),
            nullptr);
  for (auto& p : peers) ASSERT_EQ(p->send(ByteView(bytesOf(1, 'r'))), 1u);
  std::vector<std::size_t> per_pass;
  for (int pass = 0; pass < 3; ++pass) {
    const std::size_t before = served_;
    loop_->runOnce(1000);
    per_pass.push_back(served_ - before);
  }
  EXPECT_EQ(per_pass, (std::vector<std::size_t>{8, 8, 4}));
  for (auto& p : peers) EXPECT_EQ(p->receive(1), bytesOf(1, 'r'));
}

TEST_F(EventLoopTest, AClientThatWaitedGoesBeforeConnectionsServedSince) {
  // Twelve busy peers are ready in every pass, more than a pass serves; a
  // quiet peer's byte is answered in the first pass that sees it, every
  // time, and the busy ones still all have their turns.
  std::vector<std::unique_ptr<RawPeer>> busy;
  for (int i = 0; i < 12; ++i) busy.push_back(std::make_unique<RawPeer>(port_));
  RawPeer quiet(port_);
  ASSERT_EQ(loop_->runUntil([&] { return loop_->channelCount() == 13; },
                            Clock::now() + std::chrono::seconds(5)),
            nullptr);
  std::vector<std::size_t> echoes(busy.size(), 0);
  auto drain = [&] {
    for (std::size_t i = 0; i < busy.size(); ++i) {
      std::uint8_t buf[64];
      std::size_t n = 0;
      while (platform::receiveSome(busy[i]->socket.get(), buf, n) == 0 &&
             n > 0) {
        echoes[i] += n;
      }
    }
  };
  for (int round = 0; round < 6; ++round) {
    for (int pass = 0; pass < 3; ++pass) {
      for (auto& p : busy) ASSERT_EQ(p->send(ByteView(bytesOf(1, 'b'))), 1u);
      loop_->runOnce(1000);
      drain();
    }
    ASSERT_EQ(quiet.send(ByteView(bytesOf(1, 'q'))), 1u);
    for (auto& p : busy) ASSERT_EQ(p->send(ByteView(bytesOf(1, 'b'))), 1u);
    loop_->runOnce(1000);  // one pass only
    EXPECT_EQ(quiet.receive(1), bytesOf(1, 'q')) << "round " << round;
    drain();
  }
  for (std::size_t i = 0; i < busy.size(); ++i) {
    EXPECT_GT(echoes[i], 0u) << "busy peer " << i;
  }
}

// --- Callbacks and closing
// ----------------------------------------------------

TEST_F(EventLoopTest, CallbackMayRunTheLoopToCallOut) {
  // A forwarding service: its answer waits until it has itself called the
  // echo through the same loop; "x" closes the channel from the callback.
  EventLoopCallbacks callbacks;
  callbacks.on_data = [this](Channel& ch, ByteView bytes) {
    if (ch.outgoing()) {
      Bytes& got = received_[ch.id()];
      got.insert(got.end(), bytes.begin(), bytes.end());
    } else if (bytes[0] == 'x') {
      loop_->close(ch);
    } else if (bytes[0] != 'f') {
      loop_->send(ch, bytes);
    } else {
      Channel& onward = client();
      EXPECT_EQ(loop_->send(onward, ByteView(bytesOf(3, 'i'))), nullptr);
      Bytes inner = echoed(onward, 3);
      loop_->close(onward);
      loop_->send(ch, ByteView(inner));
    }
    return DataState{};
  };
  loop_->setCallbacks(callbacks);
  Channel& ch = client();
  ASSERT_EQ(loop_->send(ch, ByteView(bytesOf(1, 'f'))), nullptr);
  EXPECT_EQ(echoed(ch, 3), bytesOf(3, 'i'));

  RawPeer peer(port_);
  peer.send(bytesOf(1, 'x'));
  EXPECT_TRUE(peer.closedBy(loop_.get()));
}

TEST_F(EventLoopTest, CloseWithAReasonEndTraceLinesAndCloseDetection) {
  Channel& ch = client();
  const std::uint64_t id = ch.id();
  EXPECT_EQ(ch.identity().channel, id);
  EXPECT_EQ(ch.identity().peer.port, port_);
  EXPECT_EQ(loop_->find([id](const Channel& c) { return c.id() == id; }), &ch);
  // The upper layer names the channels it knows.
  EventLoopCallbacks callbacks;
  callbacks.on_closed = [this](Channel& c, const CORBA::SystemException* r) {
    closed_.push_back(
        {c.outgoing(), r ? r->bareName() : "", r ? r->minor() : 0u});
  };
  callbacks.describe = [id](const Channel& c) {
    ChannelTexts t;
    if (c.id() == id) t.end_of_connection = "End of Connection (here) ]";
    return t;
  };
  loop_->setCallbacks(callbacks);
  loop_->close(ch, fail<CORBA::COMM_FAILURE>(10089));
  EXPECT_EQ(loop_->channel(id), nullptr);
  // Until the loop runs again the closed channel still exists; using it
  // fails cleanly.
  Status st = loop_->send(ch, ByteView(bytesOf(1, 'z')));
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(*st->detail(), "WSI Error: Operation On Invalid Socket");
  for (int i = 0; i < 50 && closed_.size() < 2; ++i) loop_->runOnce(10);
  ASSERT_EQ(closed_.size(), 2u);
  EXPECT_TRUE(closed_[0].outgoing);
  EXPECT_EQ(closed_[0].minor, 10089u);
  EXPECT_EQ(closed_[1].name, "");
  const std::vector<std::string> lines = context_.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "[test: End of Connection (here) ]");
  EXPECT_EQ(lines[1].rfind("[test: End of Connection (,,,127.0.0.1:", 0), 0u);
}

// --- Connecting
// ---------------------------------------------------------------

TEST_F(EventLoopTest, RefusedConnectsAreRetriedPerConnectAttempts) {
  LoopbackListener held(false);  // bound, not listening: connects refused
  const std::string port = std::to_string(held.port());
  for (const auto& [value, attempts] : std::vector<std::pair<std::string, int>>{
           {"3", 3}, {"0", 10}, {"many", 10}}) {
    context_.attempts = value;
    const int before = context_.count("Retrying connection");
    Channel* ch = nullptr;
    Status s = loop_->connect("127.0.0.1", port, &ch);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->bareName(), "COMM_FAILURE");
    EXPECT_EQ(s->minor(), 10085u);
    EXPECT_EQ(context_.count("[test: Retrying connection to host `127.0.0.1' "
                             "port " +
                             port + "]") -
                  before,
              attempts)
        << value;
  }
  // Once only: no retries, no line.
  const int before = context_.count("Retrying");
  Channel* ch = nullptr;
  EXPECT_EQ(loop_->connectOnce("127.0.0.1", held.port(), &ch)->minor(), 10085u);
  EXPECT_EQ(context_.count("Retrying"), before);
}

TEST_F(EventLoopTest, ConnectFailuresThatAreNotRetried) {
  context_.attempts = "5";
  Channel* ch = nullptr;
  Status s = loop_->connect("", "7591", &ch);  // unresolvable, no lookup
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->minor(), 10086u);
  EXPECT_EQ(*s->detail(), "");

  s = loop_->connect("127.0.0.1", std::to_string(port_), &ch, "SSL-TCP");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->bareName(), "SSL_FAILURE");
  EXPECT_EQ(s->minor(), 16122u);

  // Connected straight away, the port read as atoi reads it.
  EXPECT_EQ(loop_->connect("127.0.0.1", std::to_string(port_) + "xyz", &ch),
            nullptr);
  EXPECT_EQ(context_.count("Retrying"), 0);

  s = loop_->listen(std::to_string(port_));  // busy
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->minor(), 10088u);
  EXPECT_EQ(*s->detail(), "Windows Sockets Error: WSAEADDRINUSE");
}

TEST_F(EventLoopTest, SecureTransportTakesOverTheChannel) {
  struct Secure : SecureTransport {
    int calls = 0;
    Status secure(Channel&) override {
      ++calls;
      return nullptr;
    }
  } secure;
  loop_->setSecureTransport(&secure);
  Channel* ch = nullptr;
  ASSERT_EQ(loop_->connectOnce("127.0.0.1", port_, &ch, "SSL-TCP"), nullptr);
  EXPECT_EQ(secure.calls, 1);
  roundTrip(*ch, bytesOf(2, 'k'));
}

}  // namespace
}  // namespace talvo::testing
