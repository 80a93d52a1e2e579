// A raw loopback peer for the run time's tests: a plain socket outside any
// event loop, to play clients and servers that misbehave (stop halfway
// through a message, never read, close early) and to read what a server
// answers byte for byte. Header only; a test using it links
// talvo_transport.
//
// Threading: none; a peer belongs to one thread.

#ifndef TALVO_TESTS_SUPPORT_RUNTIME_PEER_H_
#define TALVO_TESTS_SUPPORT_RUNTIME_PEER_H_

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <span>

#include "platform/errors.h"
#include "platform/socket.h"
#include "runtime/transport/event_loop.h"

namespace talvo::testing {

struct RawPeer {
  platform::SocketHandle socket;

  explicit RawPeer(platform::SocketHandle s) : socket(std::move(s)) {}
  // Connects to 127.0.0.1:`port`.
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
  // Reads until `count` bytes have arrived, the other end closes, or a
  // few seconds pass; runs `loop` (if any) meanwhile. The bytes read.
  Bytes receive(std::size_t count, EventLoop* loop = nullptr) {
    Bytes got;
    std::uint8_t buf[4096];
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
      if (loop != nullptr) loop->runOnce(5);
      std::vector<platform::WaitEntry> w{
          {socket.get(), platform::kWaitRead, 0}};
      int ready = 0;
      platform::waitForEvents(w, loop != nullptr ? 0 : 20, ready);
      std::size_t n = 0;
      const int code = platform::receiveSome(socket.get(), buf, n);
      if (code == 0 && n == 0) break;
      if (code == 0) got.insert(got.end(), buf, buf + n);
      if (code != 0 && code != platform::kWsaEwouldblock) break;
    }
    return got;
  }
  // True when the other end closed the connection (end of stream or
  // reset) within a few seconds, running `loop` (if any) meanwhile.
  bool closedBy(EventLoop* loop = nullptr) {
    for (int i = 0; i < 300; ++i) {
      if (loop != nullptr) loop->runOnce(10);
      std::vector<platform::WaitEntry> w{
          {socket.get(), platform::kWaitRead, 0}};
      int ready = 0;
      platform::waitForEvents(w, loop != nullptr ? 0 : 10, ready);
      std::uint8_t buf[256];
      std::size_t got = 0;
      int code = platform::receiveSome(socket.get(), buf, got);
      if ((code == 0 && got == 0) || code == platform::kWsaEconnreset) {
        return true;
      }
    }
    return false;
  }
};

}  // namespace talvo::testing

#endif  // TALVO_TESTS_SUPPORT_RUNTIME_PEER_H_
