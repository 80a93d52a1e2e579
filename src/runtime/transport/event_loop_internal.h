// Private state of EventLoop, shared by its implementation files only.

#ifndef TALVO_RUNTIME_TRANSPORT_EVENT_LOOP_INTERNAL_H_
#define TALVO_RUNTIME_TRANSPORT_EVENT_LOOP_INTERNAL_H_

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

#include "platform/socket.h"
#include "runtime/transport/event_loop.h"

namespace talvo {

// One queued outgoing frame: plain bytes or a chunked message.
struct OutItem {
  Bytes bytes;
  std::optional<MessageBuffer> buffer;
  std::size_t size = 0;
};

struct EventLoop::Connection {
  Connection(const FrameFormat& format, std::uint64_t max_size)
      : assembler(format, max_size) {}

  std::unique_ptr<TalvoTCPChannel> channel;
  platform::SocketHandle socket;
  FrameAssembler assembler;
  Bytes pending;  // received, not yet cut into frames
  std::size_t pending_pos = 0;
  bool detected = false;  // protocol decided
  bool eof = false;       // peer finished sending
  bool closed = false;
  std::deque<OutItem> out;
  std::size_t out_offset = 0;  // bytes of out.front() already written
  std::size_t out_bytes = 0;   // unwritten bytes in `out`
};

struct EventLoop::Listener {
  platform::SocketHandle socket;
  std::uint16_t port = 0;
  // Set after an accept failure such as running out of descriptors: the
  // listener rests until then instead of waking the loop at once again.
  std::chrono::steady_clock::time_point resting_until{};
};

struct EventLoop::Waiter {
  std::uint64_t channel_id;
  const std::function<bool(ByteView)>* match;
  Bytes frame;
  bool done = false;
  bool closed = false;
  Status reason;
};

}  // namespace talvo

#endif  // TALVO_RUNTIME_TRANSPORT_EVENT_LOOP_INTERNAL_H_
