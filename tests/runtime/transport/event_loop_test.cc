// The event loop's channels over real loopback sockets: one loop serves an
// echo service and, through the same loop, the test's own client channels;
// raw sockets play misbehaving peers.

#include "runtime/transport/event_loop.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/ports.h"
#include "support/runtime_peer.h"
#include "support/transport_context.h"

namespace talvo::testing {
namespace {

using Clock = std::chrono::steady_clock;

// A request body: kind 0, then a 4-byte id, then `payload`.
Bytes request(std::uint32_t id, const std::string& payload = "") {
  Bytes b{0, 0, 0, 0};
  for (int shift = 24; shift >= 0; shift -= 8) b.push_back(id >> shift);
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}

std::uint32_t idOf(ByteView f) {
  return (std::uint32_t{f[4]} << 24) | (f[5] << 16) | (f[6] << 8) | f[7];
}

std::function<bool(ByteView)> withId(std::uint32_t id) {
  return [id](ByteView f) { return f.size() >= 8 && idOf(f) == id; };
}

class EventLoopTest : public ::testing::Test {
 protected:
  void SetUp() override { startLoop(); }

  void startLoop() {
    loop_ = std::make_unique<EventLoop>(context_);
    EventLoopCallbacks callbacks;
    callbacks.on_frame = [this](Channel& ch, ByteView frame) {
      if (!ch.outgoing()) {
        ++served_;
        loop_->send(ch, frame);  // echo
      }
    };
    callbacks.on_error = [this](Channel&, const CORBA::SystemException& e) {
      errors_.push_back(e.minor());
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

  // Sends a request and waits for its echo; returns the time it took.
  Clock::duration roundTrip(Channel& ch, std::uint32_t id,
                            const std::string& payload = "") {
    auto start = Clock::now();
    EXPECT_EQ(loop_->send(ch, request(id, payload)), nullptr);
    Bytes reply;
    EXPECT_EQ(loop_->waitForFrame(ch, withId(id), 5000, reply), nullptr);
    EXPECT_EQ(reply, request(id, payload));
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
  int served_ = 0;
  std::vector<std::uint32_t> errors_;
  std::vector<Closed> closed_;
};

// --- Round trips ----------------------------------------------------------

TEST_F(EventLoopTest, EchoesFramesOfManySizesAndChunkedMessages) {
  Channel& ch = client();
  std::uint32_t id = 1;
  for (std::size_t size : {0, 1, 3, 4, 100, 8192, 70000, 1 << 20}) {
    roundTrip(ch, id, std::string(size, static_cast<char>('a' + id % 26)));
    ++id;
  }
  MessageBuffer message;
  Bytes head = request(42);
  message.write(head);
  message.write(Bytes(20000, 'q'));
  ASSERT_EQ(loop_->send(ch, std::move(message)), nullptr);
  Bytes reply;
  ASSERT_EQ(loop_->waitForFrame(ch, withId(42), 5000, reply), nullptr);
  EXPECT_EQ(reply.size(), 8u + 20000u);
}

TEST_F(EventLoopTest, FramesInPiecesAndAFrameFollowedByTheClose) {
  RawPeer slow(port_);
  Bytes frame = makeTalvoFrame(request(5, "piecewise"));
  for (std::uint8_t byte : frame) {
    slow.send(ByteView(&byte, 1));
    loop_->runOnce(20);
  }
  for (int i = 0; i < 50 && served_ == 0; ++i) loop_->runOnce(20);
  EXPECT_EQ(served_, 1);

  // The frame and the end of stream may come in one wake-up; the frame is
  // answered before the connection ends, and the end is no failure.
  RawPeer last(port_);
  frame = makeTalvoFrame(request(9, "last words"));
  ASSERT_EQ(last.send(frame), frame.size());
  ::shutdown(last.socket.get(), SHUT_WR);
  for (int i = 0; i < 50 && closed_.empty(); ++i) loop_->runOnce(20);
  EXPECT_EQ(served_, 2);
  ASSERT_EQ(closed_.size(), 1u);
  EXPECT_EQ(closed_[0].name, "");
  Bytes back(frame.size());
  std::size_t got = 0, n = 1;
  while (got < back.size() && n > 0 &&
         platform::receiveSome(last.socket.get(), std::span(back).subspan(got),
                               n) == 0) {
    got += n;
  }
  EXPECT_EQ(back, frame);
}

// --- Peers that misbehave ---------------------------------------------------

TEST_F(EventLoopTest, StalledAndNonReadingPeersDelayNobody) {
  RawPeer stalled(port_);
  Bytes frame = makeTalvoFrame(request(1, std::string(1000, 'x')));
  stalled.send(ByteView(frame).first(500));  // and then nothing

  // Requests of 256 KiB, echoed back to a peer that never reads: the
  // replies fill its socket, then the loop's queue, then the loop stops
  // reading from it.
  RawPeer hog(port_);
  frame = makeTalvoFrame(request(1, std::string(256 * 1024, 'h')));
  std::size_t pushed = 0;
  for (int round = 0; round < 400; ++round) {
    pushed += hog.send(ByteView(frame).subspan(pushed % frame.size()));
    loop_->runOnce(1);
  }
  ASSERT_GT(pushed, 8u * frame.size());  // well beyond the socket buffers
  Channel& ch = client();
  for (std::uint32_t id = 1; id <= 20; ++id) {
    EXPECT_LT(roundTrip(ch, id, "small"), std::chrono::milliseconds(500));
  }
  EXPECT_TRUE(closed_.empty());
  EXPECT_EQ(loop_->channelCount(), 4u);
}

TEST_F(EventLoopTest, TooLargeFrameIsRefusedAndTheChannelClosed) {
  context_.max_size = "8193";
  startLoop();
  RawPeer peer(port_);
  peer.send(Bytes{0, 0, 0x20, 0x02});  // 8194 bytes announced
  EXPECT_TRUE(peer.closedBy(*loop_));
  const std::vector<std::string> lines = context_.lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].rfind("Got too large a message, from client: ", 0), 0u);
  EXPECT_NE(lines[0].find(", on host: 127.0.0.1."), std::string::npos);
  EXPECT_EQ(lines[1], "Purported size was: 8194 Max allowed is 8193");
  EXPECT_EQ(lines[2], "Closing connection.");
  EXPECT_EQ(lines[3].rfind("[test: End of Connection (", 0), 0u);
  ASSERT_EQ(closed_.size(), 1u);
  EXPECT_EQ(closed_[0].name, "COMM_FAILURE");
  EXPECT_EQ(closed_[0].minor, 10089u);
  roundTrip(client(), 9, std::string(8193 - 8, 'z'));  // the limit itself
}

TEST_F(EventLoopTest, UnknownKindsAndFailedIntegrity) {
  Channel& ch = client();
  ASSERT_EQ(loop_->send(ch, Bytes{0, 0, 0, 4, 1, 2, 3, 4}), nullptr);
  ASSERT_EQ(loop_->send(ch, Bytes{0, 0}), nullptr);  // no kind at all
  roundTrip(ch, 3);
  EXPECT_EQ(errors_, (std::vector<std::uint32_t>{10089, 10089}));
  EXPECT_TRUE(closed_.empty());

  loop_->setIntegrityCheck([](ByteView frame) -> std::optional<std::string> {
    if (frame.size() > 8) return "bad seal";
    return std::nullopt;
  });
  ASSERT_EQ(loop_->send(ch, request(2, "tampered")), nullptr);
  Bytes reply;
  EXPECT_NE(loop_->waitForFrame(ch, withId(2), 5000, reply), nullptr);
  ASSERT_GE(closed_.size(), 1u);
  EXPECT_EQ(closed_[0].minor, 10097u);
}

TEST_F(EventLoopTest, GiopGoesToTheIiopHandlerOrIsRefused) {
  const Bytes giop = {'G', 'I', 'O', 'P', 1, 0, 1, 0, 2, 0, 0, 0, 'o', 'k'};
  RawPeer refused(port_);
  refused.send(giop);
  EXPECT_TRUE(refused.closedBy(*loop_));
  ASSERT_EQ(closed_.size(), 1u);
  EXPECT_EQ(closed_[0].name, "BAD_PARAM");
  EXPECT_EQ(closed_[0].minor, 10034u);

  struct Handler : IiopHandler {
    std::vector<Bytes> messages;
    int kind = 0;
    void onFrame(Channel& ch, ByteView m) override {
      kind = ch.protocolKind();
      messages.emplace_back(m.begin(), m.end());
    }
  } handler;
  loop_->setIiopHandler(&handler);
  RawPeer peer(port_);
  peer.send(giop);
  for (int i = 0; i < 100 && handler.messages.empty(); ++i) loop_->runOnce(10);
  ASSERT_EQ(handler.messages.size(), 1u);
  EXPECT_EQ(handler.messages[0], giop);
  EXPECT_EQ(handler.kind, kIiopProtocolKind);
}

// --- Waits, callbacks and closing --------------------------------------------

TEST_F(EventLoopTest, CallbackMayWaitForAnotherReplyOrClose) {
  // A forwarding service: request 1 is answered only after the handler has
  // itself called the echo service (id 2) through the same loop; request
  // 4 closes its channel from the callback.
  EventLoopCallbacks callbacks;
  callbacks.on_frame = [this](Channel& ch, ByteView frame) {
    if (ch.outgoing()) return;
    if (idOf(frame) == 4) return loop_->close(ch);
    if (idOf(frame) != 1) return void(loop_->send(ch, frame));
    Bytes copy(frame.begin(), frame.end());
    Channel& onward = client();
    Bytes inner;
    EXPECT_EQ(loop_->send(onward, request(2, "inner")), nullptr);
    EXPECT_EQ(loop_->waitForFrame(onward, withId(2), 5000, inner), nullptr);
    loop_->close(onward);
    copy.insert(copy.end(), inner.begin() + 8, inner.end());
    loop_->send(ch, copy);
  };
  loop_->setCallbacks(callbacks);
  Channel& ch = client();
  ASSERT_EQ(loop_->send(ch, request(1, "outer:")), nullptr);
  Bytes reply;
  ASSERT_EQ(loop_->waitForFrame(ch, withId(1), 5000, reply), nullptr);
  EXPECT_EQ(reply, request(1, "outer:inner"));

  // A wait that times out leaves the channel open.
  Status s = loop_->waitForFrame(ch, withId(99), 100, reply);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->minor(), 10087u);
  EXPECT_EQ(s->completed(), CORBA::COMPLETED_NO);
  roundTrip(ch, 3);

  RawPeer peer(port_);
  Bytes two = makeTalvoFrame(request(4));
  Bytes second = makeTalvoFrame(request(5));
  two.insert(two.end(), second.begin(), second.end());
  peer.send(two);
  EXPECT_TRUE(peer.closedBy(*loop_));
}

TEST_F(EventLoopTest, ConnectionEndTraceLinesAndCloseDetection) {
  Channel& ch = client();
  const std::uint64_t id = ch.id();
  EventLoopCallbacks callbacks;
  callbacks.on_closed = [this](Channel& c, const CORBA::SystemException* r) {
    closed_.push_back({c.outgoing(), r ? r->bareName() : "", 0});
  };
  // The upper layer names the channels it knows.
  callbacks.describe = [id](const Channel& c) {
    ChannelTexts t;
    if (c.id() == id) t.end_of_connection = "End of Connection (here) ]";
    return t;
  };
  loop_->setCallbacks(callbacks);
  EXPECT_EQ(ch.identity().channel, id);
  EXPECT_EQ(ch.identity().peer.port, port_);
  EXPECT_EQ(loop_->find([id](const Channel& c) { return c.id() == id; }), &ch);
  loop_->close(ch);
  EXPECT_EQ(loop_->channel(id), nullptr);
  // Until the loop runs again the closed channel still exists; using it
  // fails cleanly.
  EXPECT_NE(loop_->send(ch, request(1)), nullptr);
  for (int i = 0; i < 50 && closed_.size() < 2; ++i) loop_->runOnce(10);
  ASSERT_EQ(closed_.size(), 2u);
  EXPECT_TRUE(closed_[0].outgoing);
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
           {"3", 3}, {"0", 10}, {"many", 10}, {"-2", 10}}) {
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
  roundTrip(*ch, 1);
}

}  // namespace
}  // namespace talvo::testing
