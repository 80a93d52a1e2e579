// EventLoop: the one single-threaded event loop over all channels.
//
// The loop owns the listening sockets and every channel. One call of
// runOnce() waits (poll(2)) for any socket to be ready and then serves what
// is ready: it accepts connections, reads what each connection has sent and
// cuts it into frames, and writes queued replies as far as each socket
// takes them. Sockets are non-blocking and every connection is read and
// written independently, so a peer that stops halfway through a frame, or
// never reads its replies, holds up nobody else.
//
// Upper layers plug in through callbacks: a channel opened (accepted or
// connected), a frame received, a channel closed. They answer by queuing
// frames with send(); a caller that needs a particular reply waits for it
// with waitForFrame(), which runs the same loop (so other channels are
// served meanwhile; callbacks may wait too, the loop is re-entrant).
//
// On an accepted connection the first four bytes decide the protocol:
// "GIOP" goes to the registered IiopHandler (none: BAD_PARAM 10034
// "IIOP"), anything else is the broker protocol, framed by a 4-byte
// big-endian length.
//
// Thread safety: none. Everything runs on the thread that runs the loop.

#ifndef TALVO_RUNTIME_TRANSPORT_EVENT_LOOP_H_
#define TALVO_RUNTIME_TRANSPORT_EVENT_LOOP_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "runtime/except/exception.h"
#include "runtime/transport/channel.h"
#include "runtime/transport/frame.h"
#include "runtime/transport/message_buffer.h"
#include "runtime/transport/transport_context.h"

namespace talvo {

struct EventLoopCallbacks {
  // A channel was accepted or connected. The connecting side's upper layer
  // sends its binding message here.
  std::function<void(Channel&)> on_open;
  // A complete broker-protocol frame body (message kind 0 to 3) arrived.
  // The view is valid during the call only.
  std::function<void(Channel&, ByteView frame)> on_frame;
  // A frame was refused but the channel stays open (an unknown message
  // kind: COMM_FAILURE 10089).
  std::function<void(Channel&, const CORBA::SystemException&)> on_error;
  // The channel is closing: `reason` is null when the peer or this process
  // closed it normally, else the failure. The channel is destroyed later;
  // its id is never reused.
  std::function<void(Channel&, const CORBA::SystemException* reason)> on_closed;
};

// The IIOP protocol object, registered when the process speaks IIOP.
class IiopHandler {
 public:
  virtual ~IiopHandler() = default;
  // A complete GIOP message, header included.
  virtual void onFrame(Channel& channel, ByteView message) = 0;
};

// The secure transport "SSL-TCP", registered when present.
class SecureTransport {
 public:
  virtual ~SecureTransport() = default;
  // Takes over a freshly connected channel; a failure closes it.
  virtual Status secure(Channel& channel) = 0;
};

class EventLoop {
 public:
  // Queued output beyond which a channel is no longer read until its peer
  // takes some of it (a peer that never reads cannot make us buffer more).
  static constexpr std::size_t kMaxQueuedBytes = 4 * 1024 * 1024;

  // `context` (not owned) must outlive the loop. The frame limit is read
  // from it once, here.
  explicit EventLoop(TransportContext& context = TransportContext::process());
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  void setCallbacks(EventLoopCallbacks callbacks);
  // Not owned; null unregisters.
  void setIiopHandler(IiopHandler* handler) { iiop_ = handler; }
  void setSecureTransport(SecureTransport* secure) { secure_ = secure; }
  // A check run over every broker frame body; a text result is a failure:
  // the channel is closed with COMM_FAILURE 10097 and the text as detail.
  void setIntegrityCheck(
      std::function<std::optional<std::string>(ByteView)> check);
  // How long one connect may take before COMM_FAILURE 10087.
  void setConnectTimeout(std::chrono::milliseconds timeout);

  // Listens on `port` (a decimal string; "0" lets the system choose) on
  // every local address with a backlog of 5. `bound` gets the port.
  // Failure: COMM_FAILURE 10088 with the error text.
  Status listen(const std::string& port, std::uint16_t* bound = nullptr);

  // Connects once to `host` (dotted or a name) and `port`. `transport` is
  // "TCP" or "SSL-TCP". On success `*out` is the new channel (owned by the
  // loop) and on_open has run. Failures: 10088 socket, 10086 host
  // unresolvable (detail the host), 10085 refused, 10087 timed out (no
  // detail), 10091 other (error text); SSL_FAILURE 16122 for "SSL-TCP"
  // without a secure transport.
  Status connectOnce(const std::string& host, std::uint16_t port, Channel** out,
                     std::string_view transport = "TCP");
  // Connects with retries: up to QV_CONNECT_ATTEMPTS attempts (10 when 0,
  // unset or not a number), 2 s apart; only a refusal (10085) is retried,
  // with a "Retrying connection" trace line after each.
  Status connect(const std::string& host, const std::string& port,
                 Channel** out, std::string_view transport = "TCP");

  // Queues one broker-protocol frame with `body` and writes what the socket
  // takes now. A write failure closes the channel (COMM_FAILURE 10083); a
  // closed channel gives COMM_FAILURE 10088 "WSI Error: Operation On
  // Invalid Socket".
  Status send(Channel& channel, ByteView body);
  // The same for a message built in a buffer (its length is filled in).
  Status send(Channel& channel, MessageBuffer&& message);
  // Queues bytes that are already framed (GIOP messages).
  Status sendRaw(Channel& channel, ByteView bytes);

  // Closes the channel: shutdown, close, end-of-connection trace line,
  // on_closed. Safe to call from callbacks and on a closed channel.
  void close(Channel& channel);

  // Waits up to `timeout_ms` (negative: no limit) for events and serves all
  // that are ready. Nothing ready: COMM_FAILURE 10087 COMPLETED_YES. A
  // failing wait: COMM_FAILURE 10084 with the error text. Failures of
  // single channels close them and reach on_closed, not the result.
  Status runOnce(int timeout_ms);

  // Runs the loop until a frame arrives on `channel` for which `match` is
  // true; that frame goes to `out` and not to on_frame. Failures: the
  // channel closes (its reason, or COMM_FAILURE 10082 "Windows Sockets
  // Error: WSAECONNRESET" when it closed normally), or `timeout_ms` passes
  // (COMM_FAILURE 10087, channel left open).
  Status waitForFrame(Channel& channel,
                      const std::function<bool(ByteView)>& match,
                      int timeout_ms, Bytes& out);

  // Writes the channel's new-connection trace line (when the diagnostics
  // level is not 0). The upper layer calls it once the binding is known.
  void traceNewConnection(const Channel& channel);

  // The open channel with this id, or null.
  Channel* channel(std::uint64_t id);
  // The first open channel (in order of creation) for which `match` is
  // true, or null. For example the channel to a server on a host.
  Channel* find(const std::function<bool(const Channel&)>& match);
  std::size_t channelCount() const;
  std::uint64_t maxMessageSize() const { return max_message_size_; }
  TransportContext& context() { return context_; }

 private:
  struct Connection;
  struct Listener;
  struct Waiter;

  Connection* connectionOf(const Channel& channel);
  Channel& addConnection(platform::SocketHandle socket,
                         const platform::SocketAddress& peer, bool outgoing);
  void acceptAll(Listener& listener);
  void readFrom(Connection& conn);
  void processInput(Connection& conn);
  void deliver(Connection& conn, Bytes frame);
  void refuseTooLarge(Connection& conn);
  Status queue(Connection& conn, Bytes bytes,
               std::optional<MessageBuffer> buffer);
  void writeTo(Connection& conn);
  void closeWith(Connection& conn, Status reason);
  void trace(const std::string& text, bool prefixed);
  void purgeClosed();

  TransportContext& context_;
  EventLoopCallbacks callbacks_;
  IiopHandler* iiop_ = nullptr;
  SecureTransport* secure_ = nullptr;
  std::function<std::optional<std::string>(ByteView)> integrity_;
  std::chrono::milliseconds connect_timeout_{20000};
  std::uint64_t max_message_size_;
  std::uint64_t next_id_ = 1;
  std::vector<std::unique_ptr<Listener>> listeners_;
  std::map<std::uint64_t, std::unique_ptr<Connection>> connections_;
  std::vector<std::unique_ptr<Connection>> closed_;
  std::vector<Waiter*> waiters_;
  Bytes read_scratch_;
  int depth_ = 0;  // nesting of runOnce()
};

}  // namespace talvo

#endif  // TALVO_RUNTIME_TRANSPORT_EVENT_LOOP_H_
