// Private state of EventLoop, shared by its implementation files only.

#ifndef TALVO_RUNTIME_TRANSPORT_EVENT_LOOP_INTERNAL_H_
#define TALVO_RUNTIME_TRANSPORT_EVENT_LOOP_INTERNAL_H_

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>

#include "platform/poller.h"
#include "platform/socket.h"
#include "platform/wake_signal.h"
#include "runtime/transport/event_loop.h"

namespace talvo {

// One queued outgoing message: plain bytes or a chunked buffer.
struct OutItem {
  Bytes bytes;
  std::optional<MessageBuffer> buffer;
  std::size_t size = 0;
};

struct EventLoop::PassBuffers {
  // A ready entry: the pass its handler last ran in, its index in the
  // wait's entries, and the serial of its watch when the wait ended.
  struct Ready {
    std::uint64_t served;
    std::size_t index;
    std::uint64_t serial;
  };
  std::vector<platform::WaitEntry> entries;
  std::vector<Ready> order;
  std::vector<std::uint64_t> unflushed;
  // One write's pieces (writeTo() runs no handler while it uses them).
  std::vector<std::span<const std::uint8_t>> pieces;
};

struct EventLoop::WaitSet {
  platform::Poller poller;
  std::vector<int> changed;  // descriptors whose interest changed
};

struct EventLoop::Connection {
  std::unique_ptr<TalvoTCPChannel> channel;
  platform::SocketHandle socket;
  bool eof = false;  // peer finished sending
  bool closed = false;
  int busy = 0;  // the upper layer is handling this connection's bytes
  std::deque<OutItem> out;
  std::size_t out_offset = 0;  // bytes of out.front() already written
  std::size_t out_bytes = 0;   // unwritten bytes in `out`

  // Limits (see LoopLimits).
  std::size_t held = 0;           // what the upper layer reported holding
  bool partial = false;           // stopped inside a message
  bool more = false;              // messages wait in the upper layer
  bool in_backlog = false;        // on backlog_
  bool paused = false;            // not read while the budget is spent
  bool unflushed = false;         // on unflushed_
  Clock::time_point last_read{};  // the last bytes that came
  TimerId stall_timer = 0;
  std::uint64_t last_pass = 0;                // the pass that last served it
  std::list<Connection*>::iterator idle_pos;  // accepted ones only
};

struct EventLoop::Listener {
  platform::SocketHandle socket;
  std::uint16_t port = 0;
};

// The wake descriptor, shared by the loop and its wakers so that a waker
// that outlives the loop never writes to a descriptor number reused since.
struct EventLoop::WakeState {
  platform::WakeSignal signal;
};

struct EventLoop::WakerEntry {
  std::atomic<bool> pending{false};
  std::atomic<bool> dropped{false};
  std::function<void()> on_wake;
};

// A connect under way.
struct EventLoop::Connecting {
  std::uint64_t id = 0;
  std::string host;
  std::string port_text;  // as given, for the retry trace line
  std::uint16_t port = 0;
  bool secure = false;
  bool retries = false;
  int attempts_left = 1;
  Clock::time_point deadline;
  ConnectDone done;
  std::uint32_t address = 0;
  bool resolved = false;
  std::shared_ptr<LoopWaker> resolver;  // while the helper thread looks up
  platform::SocketHandle socket;
  TimerId timer = 0;  // the attempt's time-out, or the pause before the next
};

}  // namespace talvo

#endif  // TALVO_RUNTIME_TRANSPORT_EVENT_LOOP_INTERNAL_H_
