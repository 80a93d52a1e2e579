// EventLoop: the one single-threaded event loop of a process, in two
// layers.
//
// The core watches descriptors for read and write readiness and runs
// timers (one-shot and repeating): one call of runOnce() waits (poll(2))
// until a descriptor is ready or the next timer falls, serves what is
// ready and reports what it did. Waiting without anything happening is not
// a failure. The loop has no timers of its own: with nothing to do it
// sleeps until something happens. Another thread, or a signal handler,
// wakes it through a LoopWaker, whose callback then runs on the loop's
// thread. Another event loop (a GUI's) can drive this one instead of
// runOnce(): watches() and nextTimer() say what to wait for,
// handleReady() and handleDueTimers() serve it, and the watch listener
// says when either changed.
//
// On the core sit the channels: listening sockets, connections accepted
// and made (connecting never blocks: the name lookup runs on a helper
// thread, the connect completes as an event, retries are timers), bytes
// delivered as they arrive, per-connection output queues, close detection
// and the end-of-connection trace line. The transport knows no protocol:
// the upper layer gathers the bytes into messages and queues its answers
// as bytes with send(). Sockets are non-blocking and every connection is
// read and written independently, so a peer that stops halfway through a
// message, or never reads its replies, holds up nobody else. While the
// upper layer handles a connection's bytes (and perhaps runs the loop
// again to call out: the loop is re-entrant), that connection is not read.
//
// Thread safety: none, except LoopWaker::wake(). Everything else runs on
// the thread that runs the loop.

#ifndef TALVO_RUNTIME_TRANSPORT_EVENT_LOOP_H_
#define TALVO_RUNTIME_TRANSPORT_EVENT_LOOP_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "runtime/except/exception.h"
#include "runtime/protocol/message_buffer.h"
#include "runtime/transport/channel.h"
#include "runtime/transport/transport_context.h"

namespace talvo::platform {
struct WaitEntry;
}  // namespace talvo::platform

namespace talvo {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// The peer's names as the upper layer learnt them (its binding), and the
// end-of-connection trace text in the form of its protocol.
struct ChannelTexts {
  std::string server_name;
  std::string host_name;
  std::string end_of_connection;  // without prefix
};

// What the upper layer holds of a connection after taking its bytes.
struct DataState {
  std::size_t held = 0;  // bytes kept: unserved input, partial messages
  bool partial = false;  // part of a message came, the rest has not yet
  // Whole messages wait to be served: on_data is called again, with no
  // bytes, in the next pass (and the connection is not read meanwhile).
  bool more = false;
};

// What clients may make the loop hold. Every limit closes or pauses single
// connections, never the process.
struct LoopLimits {
  // Bytes held for all connections together (their DataState::held and
  // queued output). Beyond it, connections holding more than
  // `connection_floor` are not read until the total falls again.
  std::size_t buffer_budget = 32u << 20;
  // What a connection may always hold, so that small requests get through
  // while the budget is spent.
  std::size_t connection_floor = 16u << 10;
  // A connection stopped in the middle of a message (DataState::partial)
  // with nothing new for this long is closed; zero: never.
  std::chrono::milliseconds stall_timeout{30000};
  // Accepted connections open at once; past it the connection idle for
  // longest is closed (never one the keep guard names); zero: no cap.
  std::size_t max_connections = 0;
  // Messages the upper layer serves per connection per pass (it reads the
  // value; the loop only reads a connection again once they are served).
  std::size_t requests_per_pass = 4;
};

struct EventLoopCallbacks {
  // A channel was accepted or connected. The connecting side's upper layer
  // sends its binding message here.
  std::function<void(Channel&)> on_open;
  // Bytes arrived, in any pieces (none: a turn to serve held messages).
  // The view is valid until the callback returns or runs the loop,
  // whichever is first: keep a copy.
  std::function<DataState(Channel&, ByteView bytes)> on_data;
  // The channel is closing: `reason` is null when the peer or this process
  // closed it normally, else the failure. The channel is destroyed later;
  // its id is never reused.
  std::function<void(Channel&, const CORBA::SystemException* reason)> on_closed;
  // What the upper layer knows of the peer, for the transport's trace
  // lines; unset, or empty fields, for a peer it knows nothing of.
  std::function<ChannelTexts(const Channel&)> describe;
};

// The secure transport "SSL-TCP", registered when present.
class SecureTransport {
 public:
  virtual ~SecureTransport() = default;
  // Takes over a freshly connected channel; a failure closes it.
  virtual Status secure(Channel& channel) = 0;
};

// Wakes an event loop from any thread or from a signal handler (wake() is
// async-signal-safe). The loop then runs the waker's callback on its own
// thread, once for any number of wake() calls made before it ran. A waker
// may outlive its loop; waking it then does nothing.
class LoopWaker {
 public:
  virtual ~LoopWaker() = default;
  virtual void wake() = 0;
};

// What one pass of the loop did.
struct LoopPass {
  std::size_t events = 0;  // ready descriptors served
  std::size_t timers = 0;  // timers run
  Status failure;          // the wait itself failed: COMM_FAILURE 10084
  bool idle() const { return events == 0 && timers == 0 && !failure; }
};

class EventLoop {
 public:
  using Clock = std::chrono::steady_clock;
  using TimerId = std::uint64_t;
  // Readiness bits of a watched descriptor (the poll(2) bits).
  static constexpr short kReadable = 0x001;
  static constexpr short kWritable = 0x004;
  // Bits that are reported without being asked for.
  static constexpr short kError = 0x008, kHangUp = 0x010, kInvalid = 0x020;
  // Called with the readiness bits of the descriptor.
  using FileHandler = std::function<void(short ready)>;
  // A watched descriptor and what it is watched for, for a driving loop.
  struct Watch {
    int fd;
    short interest;
  };

  // Queued output beyond which a channel is no longer read until its peer
  // takes some of it (a peer that never reads cannot make us buffer more).
  static constexpr std::size_t kMaxQueuedBytes = 4 * 1024 * 1024;

  // `context` (not owned) must outlive the loop.
  explicit EventLoop(TransportContext& context = TransportContext::process());
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // --- The core ---------------------------------------------------------

  // Watches `fd` for `interest` (kReadable, kWritable or both; 0 keeps it
  // registered but unwatched), replacing an earlier watch of the same
  // descriptor (a negative `fd` is ignored). The handler runs on the
  // loop's thread.
  void watch(int fd, short interest, FileHandler handler);
  void setInterest(int fd, short interest);
  void unwatch(int fd);

  // Runs `fn` once after `delay`, then every `repeat` when that is
  // positive. Timers run in the order they fall due.
  TimerId addTimer(std::chrono::milliseconds delay, std::function<void()> fn,
                   std::chrono::milliseconds repeat = {});
  // False when the timer is unknown (already run or cancelled).
  bool cancelTimer(TimerId id);

  // A waker whose wake() makes the loop run `on_wake` on its thread.
  // Failure to create the wake descriptor leaves the waker mute (and is
  // traced).
  std::shared_ptr<LoopWaker> makeWaker(std::function<void()> on_wake);

  // Waits up to `timeout_ms` (negative: no limit; bounded by the next
  // timer) for events, serves all that are ready and runs the timers that
  // are due. Failures of single channels close them and reach on_closed,
  // not the result.
  LoopPass runOnce(int timeout_ms);
  // Runs the loop until `done` is true: null then, COMM_FAILURE 10087 when
  // `deadline` passes first, or the failure of a wait.
  Status runUntil(const std::function<bool()>& done,
                  Clock::time_point deadline);

  // Driving the loop from another event loop.
  std::vector<Watch> watches() const;
  // When the next timer falls, if there is one.
  std::optional<Clock::time_point> nextTimer() const;
  // Runs `listener` whenever watches() or nextTimer() may have changed.
  void setWatchListener(std::function<void()> listener);
  // Serves `fd` being ready (`ready`: readiness bits); 1 when it was
  // watched, else 0.
  std::size_t handleReady(int fd, short ready);
  // Runs the timers that are due; the number run.
  std::size_t handleDueTimers();

  // --- Channels ---------------------------------------------------------

  void setCallbacks(EventLoopCallbacks callbacks);
  // Not owned; null unregisters.
  void setSecureTransport(SecureTransport* secure) { secure_ = secure; }
  // How long one connect attempt may take before COMM_FAILURE 10087.
  void setConnectTimeout(std::chrono::milliseconds timeout);

  // The limits of what connections may hold; see LoopLimits.
  void setLimits(const LoopLimits& limits);
  const LoopLimits& limits() const { return limits_; }
  // True for a channel that must never be closed to make room for another
  // (a registered server's own channel).
  void setKeepGuard(std::function<bool(const Channel&)> keep) {
    keep_ = std::move(keep);
  }
  // Bytes held for all connections now (see LoopLimits::buffer_budget).
  std::size_t heldBytes() const { return total_held_; }

  // Listens on `port` (a decimal string; "0" lets the system choose) on
  // every local address with the longest accept queue the system grants.
  // `bound` gets the port, `descriptor` the listening socket's descriptor
  // (owned by the loop).
  // Failure: COMM_FAILURE 10088 with the error text.
  Status listen(const std::string& port, std::uint16_t* bound = nullptr,
                int* descriptor = nullptr);

  // Starts connecting to `host` (dotted, at once, or a name, looked up on
  // a helper thread) and `port`; `transport` is "TCP" or "SSL-TCP". `done`
  // runs on the loop's thread, never inside this call, with the new channel
  // (owned by the loop; on_open has run) or the failure: 10088 socket,
  // 10086 host unresolvable (detail the host), 10085 refused, 10087 timed
  // out (an attempt took longer than the connect time-out, or `deadline`
  // passed; no detail), 10091 other (error text); SSL_FAILURE 16122 for
  // "SSL-TCP" without a secure transport. With `retries`, up to
  // QV_CONNECT_ATTEMPTS attempts (10 when 0, unset or not a number) are
  // made, the retry pause apart; only a refusal is retried, with a
  // "Retrying connection" trace line after each. Returns an id for
  // cancelConnect().
  using ConnectDone = std::function<void(Status, Channel*)>;
  std::uint64_t connectAsync(const std::string& host, const std::string& port,
                             bool retries, Clock::time_point deadline,
                             ConnectDone done,
                             std::string_view transport = "TCP");
  // Abandons a connect; its `done` never runs.
  void cancelConnect(std::uint64_t id);
  // Connects once, running the loop until it is done.
  Status connectOnce(const std::string& host, std::uint16_t port, Channel** out,
                     std::string_view transport = "TCP");
  // Connects with retries, running the loop until it is done.
  Status connect(const std::string& host, const std::string& port,
                 Channel** out, std::string_view transport = "TCP");

  // Queues `bytes`. Outside a pass of the loop they are written at once as
  // far as the socket takes them; inside one, everything queued for a
  // channel goes out in one write when the handler that queued it returns
  // (or before the loop waits). A write failure
  // closes the channel (COMM_FAILURE 10083); a closed channel gives
  // COMM_FAILURE 10088 "WSI Error: Operation On Invalid Socket".
  Status send(Channel& channel, ByteView bytes);
  Status send(Channel& channel, Bytes&& bytes);
  // The same for a finished message buffer, written without copying.
  Status send(Channel& channel, MessageBuffer&& message);

  // Closes the channel: shutdown, close, end-of-connection trace line,
  // on_closed with `reason` (null: a normal close). Safe to call from
  // callbacks and on a closed channel.
  void close(Channel& channel, Status reason = nullptr);

  // Writes a prefixed trace line when the diagnostics level is not 0.
  void trace(const std::string& text, bool prefixed);

  // The open channel with this id, or null.
  Channel* channel(std::uint64_t id);
  // The first open channel (in order of creation) for which `match` is
  // true, or null. For example the channel to a server on a host.
  Channel* find(const std::function<bool(const Channel&)>& match);
  std::size_t channelCount() const;
  TransportContext& context() { return context_; }

 private:
  struct Connection;
  struct Listener;
  struct Connecting;
  struct WakeState;
  struct WakerEntry;
  struct WakerImpl;
  struct FileEvent {
    short interest;
    std::uint64_t serial;
    FileHandler handler;
    std::uint64_t served = 0;  // the pass its handler last ran in
    short registered = 0;      // what the wait set waits for
    bool changed = false;      // on the list of changes for the wait set
  };
  // The watches by descriptor number. The kernel hands out the lowest
  // free number, so the numbers stay small and a table indexed by them
  // finds a watch without hashing. A watch keeps its address while it
  // lives.
  class FileTable {
   public:
    FileEvent* find(int fd) const {
      const auto i = static_cast<std::size_t>(fd);
      return fd >= 0 && i < slots_.size() ? slots_[i].get() : nullptr;
    }
    // The watch of `fd`, made empty if there is none.
    FileEvent& at(int fd);
    void erase(int fd);
    std::size_t size() const { return count_; }
    template <typename Fn>
    void forEach(Fn&& fn) const {
      for (std::size_t i = 0; i < slots_.size(); ++i) {
        if (slots_[i]) fn(static_cast<int>(i), *slots_[i]);
      }
    }

   private:
    std::vector<std::unique_ptr<FileEvent>> slots_;
    std::size_t count_ = 0;
  };
  struct Timer {
    Clock::time_point due;
    std::chrono::milliseconds repeat;
    std::function<void()> fn;
  };

  Connection* connectionOf(const Channel& channel);
  Channel& addConnection(platform::SocketHandle socket,
                         const platform::SocketAddress& peer, bool outgoing);
  void acceptAll(Listener& listener);
  void onReady(Connection& conn, short ready);
  void updateInterest(Connection& conn);
  void readFrom(Connection& conn);
  void deliver(Connection& conn, ByteView bytes);
  std::size_t readAllowance(const Connection& conn) const;
  void setHeld(Connection& conn, std::size_t held);
  void armStallTimer(Connection& conn);
  void stallCheck(std::uint64_t id);
  void touch(Connection& conn);
  void makeRoom();
  void resumePaused();
  std::size_t serveBacklog();
  void flushPending();
  std::size_t handleTimers();
  Status queue(Connection& conn, Bytes bytes,
               std::optional<MessageBuffer> buffer);
  void writeTo(Connection& conn);
  void closeWith(Connection& conn, Status reason);
  ChannelTexts describe(const Channel& channel);
  void purgeClosed();
  void watchesChanged();
  void markChanged(int fd, FileEvent& f);
  void syncWaitSet(std::vector<platform::WaitEntry>& refused);
  void runWakers();
  void startAttempt(Connecting& c);
  void attemptEnded(std::uint64_t id, int code);
  void finishConnect(std::uint64_t id, Status status, Channel* channel);
  Status connectNow(const std::string& host, const std::string& port,
                    bool retries, Channel** out, std::string_view transport);

  TransportContext& context_;
  EventLoopCallbacks callbacks_;
  SecureTransport* secure_ = nullptr;
  std::chrono::milliseconds connect_timeout_{20000};

  // The descriptors waited on, kept in step with files_, and the buffers a
  // pass leaves for the next, so that the usual pass allocates nothing for
  // its lists (see event_loop_internal.h). Made first, destroyed last: a
  // closing channel may still use them.
  struct WaitSet;
  std::unique_ptr<WaitSet> wait_set_;
  struct PassBuffers;
  std::unique_ptr<PassBuffers> spare_;
  FileTable files_;
  std::uint64_t next_serial_ = 1;
  std::map<TimerId, Timer> timers_;
  std::set<std::pair<Clock::time_point, TimerId>> timer_queue_;
  TimerId next_timer_ = 1;
  std::function<void()> watch_listener_;
  std::shared_ptr<WakeState> wake_;
  std::vector<std::shared_ptr<WakerEntry>> wakers_;
  std::uint64_t next_connect_ = 1;
  std::map<std::uint64_t, std::unique_ptr<Connecting>> connecting_;

  std::uint64_t next_id_ = 1;
  std::vector<std::unique_ptr<Listener>> listeners_;
  std::map<std::uint64_t, std::unique_ptr<Connection>> connections_;
  std::vector<std::unique_ptr<Connection>> closed_;
  Bytes read_scratch_;
  int depth_ = 0;  // nesting of runOnce() and handleReady()

  LoopLimits limits_;
  std::function<bool(const Channel&)> keep_;
  std::uint64_t pass_ = 1;      // passes ended (for per-pass shares)
  std::size_t total_held_ = 0;  // held by the upper layer plus queued output
  std::size_t paused_ = 0;      // connections not read for the budget
  std::size_t accepted_ = 0;    // open accepted connections
  // Accepted connections, longest idle first.
  std::list<Connection*> idle_order_;
  // Connections with messages to serve, in turn; kHeldPerPass of them are
  // served per pass.
  static constexpr std::size_t kHeldPerPass = 2;
  // Ready descriptors handled per pass at most.
  static constexpr std::size_t kReadyPerPass = 8;
  std::vector<std::uint64_t> backlog_;
  std::vector<std::uint64_t> unflushed_;  // connections with output to write
  // Ready descriptors taken from one wait at most (more stay ready).
  static constexpr std::size_t kEventsPerWait = 256;
  struct Depth;
};

}  // namespace talvo

#endif  // TALVO_RUNTIME_TRANSPORT_EVENT_LOOP_H_
