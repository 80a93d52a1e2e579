// A raw loopback peer for the run time's tests: a plain socket outside any
// event loop, to play clients and servers that misbehave (stop halfway
// through a frame, never read, close early). Header only; a test using it
// links talvo_transport.
//
// Threading: none; a peer belongs to one thread.

#ifndef TALVO_TESTS_SUPPORT_RUNTIME_PEER_H_
#define TALVO_TESTS_SUPPORT_RUNTIME_PEER_H_

#include <gtest/gtest.h>

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
  // True when the other end closed the connection (end of stream or
  // reset) within a few seconds, running `loop` meanwhile.
  bool closedBy(EventLoop& loop) {
    for (int i = 0; i < 300; ++i) {
      loop.runOnce(10);
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
