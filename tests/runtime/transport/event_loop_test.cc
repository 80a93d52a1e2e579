// The event loop over real loopback sockets: one loop serves an echo
// service and, through the same loop, the test's own client channels; raw
// sockets play misbehaving peers.

#include "runtime/transport/event_loop.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/socket.h"
#include "recording_context.h"
#include "runtime/transport/socket_failure.h"

namespace talvo {
namespace {

using Clock = std::chrono::steady_clock;

// A request body: kind 0, then a 4-byte id, then `payload`.
Bytes request(std::uint32_t id, const std::string& payload = "") {
  Bytes b{0,
          0,
          0,
          0,
          static_cast<std::uint8_t>(id >> 24),
          static_cast<std::uint8_t>(id >> 16),
          static_cast<std::uint8_t>(id >> 8),
          static_cast<std::uint8_t>(id)};
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}

std::uint32_t idOf(ByteView frame) {
  return (std::uint32_t{frame[4]} << 24) | (std::uint32_t{frame[5]} << 16) |
         (std::uint32_t{frame[6]} << 8) | frame[7];
}

std::function<bool(ByteView)> withId(std::uint32_t id) {
  return [id](ByteView f) { return f.size() >= 8 && idOf(f) == id; };
}

// A raw peer with a plain socket, outside the loop.
struct RawPeer {
  platform::SocketHandle socket;

  explicit RawPeer(std::uint16_t port) {
    EXPECT_EQ(platform::openStreamSocket(socket), 0);
    int code = platform::startConnect(socket.get(), {0x7f000001, port});
    if (code == platform::kWsaEinprogress) {
      code = platform::finishConnect(socket.get(), 5000);
    }
    EXPECT_EQ(code, 0);
  }
  // Sends what the socket takes now; returns the byte count.
  std::size_t send(ByteView bytes) {
    std::size_t sent = 0;
    platform::sendPieces(socket.get(), std::span(&bytes, 1), sent);
    return sent;
  }
  // True when the loop closed the connection (end of stream or reset),
  // driving `loop` meanwhile.
  bool closedBy(EventLoop& loop) {
    for (int i = 0; i < 100; ++i) {
      loop.runOnce(10);
      std::uint8_t buf[64];
      std::size_t got = 0;
      int code = platform::receiveSome(socket.get(), buf, got);
      if ((code == 0 && got == 0) || code == platform::kWsaEconnreset) {
        return true;
      }
    }
    return false;
  }
};

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
      } else {
        unclaimed_.emplace_back(frame.begin(), frame.end());
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
    Status s = loop_->connectOnce("127.0.0.1", port_, &ch);
    EXPECT_EQ(s, nullptr);
    return *ch;
  }

  // Sends a request and waits for its echo; returns the time it took.
  Clock::duration roundTrip(Channel& ch, std::uint32_t id,
                            const std::string& payload = "") {
    auto start = Clock::now();
    EXPECT_EQ(loop_->send(ch, request(id, payload)), nullptr);
    Bytes reply;
    Status s = loop_->waitForFrame(ch, withId(id), 5000, reply);
    EXPECT_EQ(s, nullptr) << (s ? s->bareName() + " " +
                                      std::to_string(s->minor())
                                : "");
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
  std::vector<Bytes> unclaimed_;
  std::vector<std::uint32_t> errors_;
  std::vector<Closed> closed_;
};

TEST_F(EventLoopTest, EchoesFramesOfManySizes) {
  Channel& ch = client();
  std::uint32_t id = 1;
  for (std::size_t size : {0, 1, 3, 4, 100, 8192, 70000, 1 << 20}) {
    roundTrip(ch, id, std::string(size, static_cast<char>('a' + id % 26)));
    ++id;
  }
  EXPECT_EQ(served_, 8);
}

TEST_F(EventLoopTest, WaitHandsOtherFramesToTheCallback) {
  Channel& ch = client();
  ASSERT_EQ(loop_->send(ch, request(7)), nullptr);
  ASSERT_EQ(loop_->send(ch, request(8)), nullptr);
  Bytes reply;
  ASSERT_EQ(loop_->waitForFrame(ch, withId(8), 5000, reply), nullptr);
  EXPECT_EQ(idOf(reply), 8u);
  ASSERT_EQ(unclaimed_.size(), 1u);
  EXPECT_EQ(idOf(unclaimed_[0]), 7u);
}

TEST_F(EventLoopTest, MessageBufferIsSentAsOneFrame) {
  Channel& ch = client();
  MessageBuffer message;
  Bytes head = request(42);
  message.write(head);
  message.write(Bytes(20000, 'q'));
  ASSERT_EQ(loop_->send(ch, std::move(message)), nullptr);
  Bytes reply;
  ASSERT_EQ(loop_->waitForFrame(ch, withId(42), 5000, reply), nullptr);
  EXPECT_EQ(reply.size(), 8u + 20000u);
}

TEST_F(EventLoopTest, PartialFramesAreGatheredAcrossReads) {
  RawPeer peer(port_);
  Bytes frame = makeTalvoFrame(request(5, "piecewise"));
  for (std::uint8_t byte : frame) {
    peer.send(ByteView(&byte, 1));
    loop_->runOnce(20);
  }
  for (int i = 0; i < 50 && served_ == 0; ++i) loop_->runOnce(20);
  EXPECT_EQ(served_, 1);
}

TEST_F(EventLoopTest, FrameFollowedByThePeersCloseIsServedFirst) {
  // The frame and the end of stream may come in one wake-up; the frame is
  // answered, and the end is seen on a later pass.
  RawPeer peer(port_);
  Bytes frame = makeTalvoFrame(request(9, "last words"));
  ASSERT_EQ(peer.send(frame), frame.size());
  ::shutdown(peer.socket.get(), SHUT_WR);
  for (int i = 0; i < 50 && closed_.empty(); ++i) loop_->runOnce(20);
  EXPECT_EQ(served_, 1);
  ASSERT_EQ(closed_.size(), 1u);
  EXPECT_EQ(closed_[0].name, "");  // an orderly end, no failure
  Bytes back(frame.size());
  std::size_t got = 0;
  while (got < back.size()) {
    std::size_t n = 0;
    int code = platform::receiveSome(peer.socket.get(),
                                     std::span(back).subspan(got), n);
    if (code != 0 || n == 0) break;
    got += n;
  }
  EXPECT_EQ(back, frame);  // the echo went out before the close
}

TEST_F(EventLoopTest, StalledHalfFrameDoesNotDelayOthers) {
  RawPeer stalled(port_);
  Bytes frame = makeTalvoFrame(request(1, std::string(1000, 'x')));
  stalled.send(ByteView(frame).first(500));  // and then nothing
  loop_->runOnce(50);

  Channel& ch = client();
  for (std::uint32_t id = 1; id <= 20; ++id) {
    EXPECT_LT(roundTrip(ch, id), std::chrono::milliseconds(500));
  }
  EXPECT_EQ(served_, 20);
}

TEST_F(EventLoopTest, PeerThatNeverReadsDoesNotDelayOthers) {
  RawPeer hog(port_);
  // Requests of 256 KiB, echoed back to a peer that never reads: the
  // replies fill its socket, then the loop's queue, then the loop stops
  // reading from it.
  Bytes frame = makeTalvoFrame(request(1, std::string(256 * 1024, 'h')));
  std::size_t pushed = 0;
  for (int round = 0; round < 400; ++round) {
    std::size_t offset = pushed % frame.size();
    pushed += hog.send(ByteView(frame).subspan(offset));
    loop_->runOnce(1);
  }
  ASSERT_GT(pushed, 8u * frame.size());  // well beyond the socket buffers
  Channel& ch = client();
  for (std::uint32_t id = 1; id <= 20; ++id) {
    EXPECT_LT(roundTrip(ch, id, "small"), std::chrono::milliseconds(500));
  }
  // The hog is still connected, its replies still queued.
  EXPECT_TRUE(closed_.empty());
  EXPECT_EQ(loop_->channelCount(), 3u);
}

TEST_F(EventLoopTest, TooLargeFrameIsRefusedAndTheChannelClosed) {
  context_.max_size = "8193";
  startLoop();
  RawPeer peer(port_);
  Bytes header = {0, 0, 0x20, 0x02};  // 8194 bytes announced
  peer.send(header);
  EXPECT_TRUE(peer.closedBy(*loop_));
  ASSERT_EQ(context_.lines.size(), 4u);
  EXPECT_EQ(
      context_.lines[0].rfind("Got too large a message, from client: ", 0), 0u);
  EXPECT_NE(context_.lines[0].find(", on host: 127.0.0.1."), std::string::npos);
  EXPECT_EQ(context_.lines[1], "Purported size was: 8194 Max allowed is 8193");
  EXPECT_EQ(context_.lines[2], "Closing connection.");
  EXPECT_EQ(context_.lines[3].rfind("[test: End of Connection (", 0), 0u);
  ASSERT_EQ(closed_.size(), 1u);
  EXPECT_EQ(closed_[0].name, "COMM_FAILURE");
  EXPECT_EQ(closed_[0].minor, 10089u);

  // A frame of exactly the limit is served.
  Channel& ch = client();
  roundTrip(ch, 9, std::string(8193 - 8, 'z'));
}

TEST_F(EventLoopTest, UnknownKindIsRefusedButTheChannelStays) {
  Channel& ch = client();
  Bytes bad = {0, 0, 0, 4, 1, 2, 3, 4};
  ASSERT_EQ(loop_->send(ch, bad), nullptr);
  ASSERT_EQ(loop_->send(ch, Bytes{0, 0}), nullptr);  // no kind at all
  roundTrip(ch, 3);
  EXPECT_EQ(errors_, (std::vector<std::uint32_t>{10089, 10089}));
  EXPECT_TRUE(closed_.empty());
}

TEST_F(EventLoopTest, IntegrityCheckFailureClosesWithItsText) {
  loop_->setIntegrityCheck([](ByteView frame) -> std::optional<std::string> {
    if (frame.size() > 8) return "bad seal";
    return std::nullopt;
  });
  Channel& ch = client();
  roundTrip(ch, 1);
  ASSERT_EQ(loop_->send(ch, request(2, "tampered")), nullptr);
  Bytes reply;
  Status s = loop_->waitForFrame(ch, withId(2), 5000, reply);
  ASSERT_NE(s, nullptr);  // the server end closed, so this end sees it
  ASSERT_GE(closed_.size(), 1u);
  EXPECT_EQ(closed_[0].minor, 10097u);
}

TEST_F(EventLoopTest, GiopWithoutIiopHandlerIsBadParam) {
  RawPeer peer(port_);
  Bytes giop = {'G', 'I', 'O', 'P', 1, 0, 0, 0, 0, 0, 0, 0};
  peer.send(giop);
  EXPECT_TRUE(peer.closedBy(*loop_));
  ASSERT_EQ(closed_.size(), 1u);
  EXPECT_EQ(closed_[0].name, "BAD_PARAM");
  EXPECT_EQ(closed_[0].minor, 10034u);
}

TEST_F(EventLoopTest, GiopGoesToTheRegisteredHandler) {
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
  Bytes giop = {'G', 'I', 'O', 'P', 1, 0, 1, 0, 2, 0, 0, 0, 'o', 'k'};
  peer.send(giop);
  for (int i = 0; i < 100 && handler.messages.empty(); ++i) loop_->runOnce(10);
  ASSERT_EQ(handler.messages.size(), 1u);
  EXPECT_EQ(handler.messages[0], giop);
  EXPECT_EQ(handler.kind, kIiopProtocolKind);
}

TEST_F(EventLoopTest, IdleWaitIsNotAFailureAndBlocks) {
  auto start = Clock::now();
  LoopPass pass = loop_->runOnce(100);
  EXPECT_TRUE(pass.idle());
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(95));
}

TEST_F(EventLoopTest, WaitForFrameTimesOutAndLeavesTheChannelOpen) {
  Channel& ch = client();
  Bytes reply;
  Status s = loop_->waitForFrame(ch, withId(99), 100, reply);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->minor(), 10087u);
  EXPECT_EQ(s->completed(), CORBA::COMPLETED_NO);
  EXPECT_TRUE(ch.connected());
  roundTrip(ch, 1);
}

TEST_F(EventLoopTest, ConnectionTraceLinesAndCloseDetection) {
  Channel& ch = client();
  ch.setHostName("here");
  ch.setServerName("srv");
  ch.setProcessId(12);
  loop_->traceNewConnection(ch);
  const std::uint64_t id = ch.id();
  roundTrip(ch, 1);
  EXPECT_EQ(
      loop_->find([](const Channel& c) { return c.serverName() == "srv"; }),
      &ch);
  loop_->close(ch);
  EXPECT_EQ(loop_->channel(id), nullptr);
  // Until the loop runs again the closed channel still exists; using it
  // fails cleanly.
  EXPECT_NE(loop_->send(ch, request(1)), nullptr);
  // The accepting side sees the end of stream.
  for (int i = 0; i < 50 && closed_.size() < 2; ++i) loop_->runOnce(10);
  ASSERT_EQ(closed_.size(), 2u);
  EXPECT_TRUE(closed_[0].outgoing);
  EXPECT_EQ(closed_[1].name, "");
  ASSERT_EQ(context_.lines.size(), 3u);
  EXPECT_EQ(context_.lines[0], "[test: New Connection (here,srv,,127.0.0.1:" +
                                   std::to_string(port_) + ",pid=12) ]");
  EXPECT_EQ(context_.lines[1],
            "[test: End of Connection (here,srv,,127.0.0.1:" +
                std::to_string(port_) + ",pid=12) ]");
  EXPECT_EQ(
      context_.lines[2].rfind("[test: End of Connection (,,,127.0.0.1:", 0),
      0u);
}

TEST_F(EventLoopTest, BindingExchangeThroughTheCallbacks) {
  // The connecting side introduces itself with a kind-3 frame as its first
  // frame; the accepting side keeps the peer's identity and answers with
  // its own.
  const Bytes client_hello = {0, 0, 0, 3, 'c', 'l', 'i'};
  const Bytes server_hello = {0, 0, 0, 3, 's', 'r', 'v'};
  EventLoopCallbacks callbacks;
  callbacks.on_open = [&](Channel& ch) {
    if (ch.outgoing()) loop_->send(ch, client_hello);
  };
  callbacks.on_frame = [&](Channel& ch, ByteView frame) {
    if (frameKind(frame) == 3 && !ch.outgoing()) {
      ch.setUserName("alice");
      ch.setProcessId(321);
      ch.setServerName(std::string(frame.begin() + 4, frame.end()));
      loop_->send(ch, server_hello);
    }
  };
  loop_->setCallbacks(callbacks);
  Channel& ch = client();
  Bytes answer;
  ASSERT_EQ(loop_->waitForFrame(
                ch, [](ByteView f) { return frameKind(f) == 3; }, 5000, answer),
            nullptr);
  EXPECT_EQ(answer, server_hello);
  Channel* accepted = loop_->find([](const Channel& c) {
    return !c.outgoing() && c.serverName() == "cli";
  });
  ASSERT_NE(accepted, nullptr);
  EXPECT_EQ(accepted->userName(), "alice");
  EXPECT_EQ(accepted->processId(), 321u);
}

TEST_F(EventLoopTest, CallbackMayWaitForAnotherReply) {
  // A forwarding service: a request with id 1 is answered only after the
  // handler has itself called the echo service (id 2) through the same
  // loop, as a daemon asking another daemon does.
  EventLoopCallbacks callbacks;
  callbacks.on_frame = [this](Channel& ch, ByteView frame) {
    if (ch.outgoing()) return;
    if (idOf(frame) != 1) {
      loop_->send(ch, frame);
      return;
    }
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
  roundTrip(ch, 3);
}

TEST_F(EventLoopTest, ClosingFromTheFrameCallbackIsSafe) {
  EventLoopCallbacks callbacks;
  callbacks.on_frame = [this](Channel& ch, ByteView) { loop_->close(ch); };
  callbacks.on_closed = [this](Channel&, const CORBA::SystemException*) {
    closed_.push_back({});
  };
  loop_->setCallbacks(callbacks);
  RawPeer peer(port_);
  Bytes two = makeTalvoFrame(request(1));
  Bytes second = makeTalvoFrame(request(2));
  two.insert(two.end(), second.begin(), second.end());
  peer.send(two);
  EXPECT_TRUE(peer.closedBy(*loop_));
  EXPECT_EQ(closed_.size(), 1u);
}

TEST_F(EventLoopTest, RefusedConnectIsRetriedAndTraced) {
  context_.attempts = "3";
  std::uint16_t dead_port = 0;
  {
    EventLoop other(context_);
    ASSERT_EQ(other.listen("0", &dead_port), nullptr);
  }  // closed: connects are now refused
  Channel* ch = nullptr;
  Status s = loop_->connect("127.0.0.1", std::to_string(dead_port), &ch);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->bareName(), "COMM_FAILURE");
  EXPECT_EQ(s->minor(), 10085u);
  EXPECT_EQ(ch, nullptr);
  const std::string line =
      "[test: Retrying connection to host `127.0.0.1' port " +
      std::to_string(dead_port) + "]";
  EXPECT_EQ(context_.lines, std::vector<std::string>(3, line));
}

TEST_F(EventLoopTest, ConnectAttemptsDefaultToTen) {
  std::uint16_t dead_port = 0;
  {
    EventLoop other(context_);
    ASSERT_EQ(other.listen("0", &dead_port), nullptr);
  }
  for (const char* value : {"0", "many", "-2"}) {
    context_.attempts = value;
    context_.lines.clear();
    Channel* ch = nullptr;
    loop_->connect("127.0.0.1", std::to_string(dead_port), &ch);
    EXPECT_EQ(context_.lines.size(), 10u) << value;
  }
}

TEST_F(EventLoopTest, ConnectFailuresThatAreNotRetried) {
  context_.attempts = "5";
  Channel* ch = nullptr;
  Status s = loop_->connect("no-such-host.invalid", "7591", &ch);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->minor(), 10086u);
  EXPECT_EQ(*s->detail(), "no-such-host.invalid");
  EXPECT_TRUE(context_.lines.empty());

  s = loop_->connect("127.0.0.1", std::to_string(port_), &ch, "SSL-TCP");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->bareName(), "SSL_FAILURE");
  EXPECT_EQ(s->minor(), 16122u);

  // Connected straight away, the port read as atoi reads it.
  s = loop_->connect("127.0.0.1", std::to_string(port_) + "xyz", &ch);
  EXPECT_EQ(s, nullptr);
  EXPECT_TRUE(context_.lines.empty());
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

TEST_F(EventLoopTest, ListenOnABusyPortFails) {
  EventLoop other(context_);
  Status s = other.listen(std::to_string(port_));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->minor(), 10088u);
  EXPECT_EQ(*s->detail(), "Windows Sockets Error: WSAEADDRINUSE");
}

}  // namespace
}  // namespace talvo
