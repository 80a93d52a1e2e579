// The channels of the event loop: accepting, reading and cutting frames,
// queued writes, closing, and waiting for a particular frame.

#include <algorithm>

#include "platform/errors.h"
#include "runtime/transport/event_loop.h"
#include "runtime/transport/event_loop_internal.h"
#include "runtime/transport/socket_failure.h"

namespace talvo {
namespace {

using Clock = std::chrono::steady_clock;

// Bytes read from one connection per pass, so that a peer that sends
// without pause cannot keep the loop from the others.
constexpr std::size_t kReadPiece = 64 * 1024;
constexpr std::size_t kReadBudget = 4 * kReadPiece;
// Connections accepted from one listener per pass.
constexpr int kAcceptBudget = 64;
// After an accept failure such as running out of descriptors the listener
// rests this long instead of waking the loop at once again.
constexpr auto kListenerRest = std::chrono::milliseconds(100);

}  // namespace

void EventLoop::setCallbacks(EventLoopCallbacks callbacks) {
  callbacks_ = std::move(callbacks);
}

void EventLoop::setIntegrityCheck(
    std::function<std::optional<std::string>(ByteView)> check) {
  integrity_ = std::move(check);
}

void EventLoop::setNativeOrder(Channel& channel, bool native) {
  if (Connection* conn = connectionOf(channel)) conn->native = native;
}

void EventLoop::setConnectTimeout(std::chrono::milliseconds timeout) {
  connect_timeout_ = timeout;
}

void EventLoop::trace(const std::string& text, bool prefixed) {
  if (context_.diagnosticsLevel() != 0) context_.trace(text, prefixed);
}

ChannelTexts EventLoop::describe(const Channel& channel) {
  ChannelTexts texts;
  if (callbacks_.describe) texts = callbacks_.describe(channel);
  if (texts.end_of_connection.empty()) {
    texts.end_of_connection =
        "End of Connection (,,," + channel.description() + ") ]";
  }
  return texts;
}

EventLoop::Connection* EventLoop::connectionOf(const Channel& channel) {
  auto it = connections_.find(channel.id());
  if (it == connections_.end() || it->second->closed) return nullptr;
  return it->second.get();
}

Channel* EventLoop::channel(std::uint64_t id) {
  auto it = connections_.find(id);
  if (it == connections_.end() || it->second->closed) return nullptr;
  return it->second->channel.get();
}

Channel* EventLoop::find(const std::function<bool(const Channel&)>& match) {
  for (auto& [id, conn] : connections_) {
    if (!conn->closed && match(*conn->channel)) return conn->channel.get();
  }
  return nullptr;
}

std::size_t EventLoop::channelCount() const { return connections_.size(); }

Channel& EventLoop::addConnection(platform::SocketHandle socket,
                                  const platform::SocketAddress& peer,
                                  bool outgoing) {
  auto conn =
      std::make_unique<Connection>(talvoFrameFormat(), max_message_size_);
  conn->channel = std::make_unique<TalvoTCPChannel>();
  Channel& ch = *conn->channel;
  ch.identity_ = platform::identifyPeer(socket.get(), peer);
  ch.identity_.channel = next_id_++;
  ch.connected_ = true;
  ch.outgoing_ = outgoing;
  ch.max_message_size_ = max_message_size_;
  platform::setNoDelay(socket.get());
  conn->socket = std::move(socket);
  // This side chose the protocol of the connections it makes.
  conn->detected = outgoing;
  Connection* c = conn.get();
  connections_.emplace(ch.id(), std::move(conn));
  watch(c->socket.get(), kReadable,
        [this, c](short ready) { onReady(*c, ready); });
  if (callbacks_.on_open) callbacks_.on_open(ch);
  return ch;
}

void EventLoop::acceptAll(Listener& listener) {
  for (int i = 0; i < kAcceptBudget; ++i) {
    platform::SocketHandle socket;
    platform::SocketAddress peer;
    int code = platform::acceptConnection(listener.socket.get(), socket, peer);
    if (code == platform::kWsaEwouldblock) return;
    if (code != 0) {
      const int fd = listener.socket.get();
      setInterest(fd, 0);
      addTimer(kListenerRest, [this, fd] { setInterest(fd, kReadable); });
      return;
    }
    addConnection(std::move(socket), peer, false);
  }
}

void EventLoop::readFrom(Connection& conn) {
  std::size_t total = 0;
  while (!conn.eof && total < kReadBudget) {
    // Read into the loop's scratch space (no zero-filling of the pending
    // bytes); it is free again before any callback runs.
    read_scratch_.resize(kReadPiece);
    std::size_t got = 0;
    int code = platform::receiveSome(conn.socket.get(), read_scratch_, got);
    conn.pending.insert(conn.pending.end(), read_scratch_.begin(),
                        read_scratch_.begin() + got);
    if (code == platform::kWsaEwouldblock) break;
    if (code != 0) {
      closeWith(conn, socketFailure(kMinorReceive, code));
      return;
    }
    if (got == 0) conn.eof = true;
    total += got;
    // A short read emptied the socket's queue: what arrives later is
    // reported by the next wait, so no read is spent to hear EAGAIN.
    if (got < kReadPiece) break;
  }
  processInput(conn);
  if (conn.eof && !conn.closed) {
    // Hand over what is still queued if the socket takes it, then close.
    if (conn.out_bytes > 0) writeTo(conn);
    if (!conn.closed) closeWith(conn, nullptr);
  }
}

void EventLoop::processInput(Connection& conn) {
  while (!conn.closed) {
    ByteView view(conn.pending.data() + conn.pending_pos,
                  conn.pending.size() - conn.pending_pos);
    if (!conn.detected) {
      if (view.size() < 4 && !conn.eof) break;
      if (detectProtocol(view) == WireProtocol::kIiop) {
        if (iiop_ == nullptr) {
          closeWith(conn, fail<CORBA::BAD_PARAM>(kMinorNoProtocol, "IIOP"));
          return;
        }
        conn.assembler.setFormat(giopFrameFormat());
        conn.channel->protocol_kind_ = kIiopProtocolKind;
      }
      conn.detected = true;
    }
    if (view.empty()) break;
    const std::size_t before = view.size();
    FrameAssembler::Result result = conn.assembler.feed(view);
    conn.pending_pos += before - view.size();
    if (result == FrameAssembler::Result::kTooLarge) {
      refuseTooLarge(conn);
      return;
    }
    if (result == FrameAssembler::Result::kNeedMore) break;
    deliver(conn, conn.assembler.takeFrame());
  }
  if (conn.pending_pos == conn.pending.size()) {
    conn.pending.clear();
    conn.pending_pos = 0;
  } else if (conn.pending_pos >= kReadPiece) {
    conn.pending.erase(conn.pending.begin(),
                       conn.pending.begin() + conn.pending_pos);
    conn.pending_pos = 0;
  }
}

void EventLoop::deliver(Connection& conn, Bytes frame) {
  Channel& ch = *conn.channel;
  const bool iiop = ch.protocolKind() == kIiopProtocolKind;
  if (!iiop) {
    if (integrity_) {
      if (std::optional<std::string> failure = integrity_(frame)) {
        closeWith(conn, fail<CORBA::COMM_FAILURE>(kMinorIntegrity, *failure));
        return;
      }
    }
    std::optional<std::int32_t> kind = frameKind(frame, conn.native);
    if (!kind || !isKnownKind(*kind)) {
      if (callbacks_.on_error) {
        CORBA::COMM_FAILURE refused(kMinorFrame);
        callbacks_.on_error(ch, refused);
      }
      return;
    }
  }
  for (auto it = waiters_.rbegin(); it != waiters_.rend(); ++it) {
    Waiter& w = **it;
    if (w.channel_id == ch.id() && !w.done && (*w.match)(frame)) {
      w.frame = std::move(frame);
      w.done = true;
      return;
    }
  }
  // While the upper layer handles the frame (and perhaps runs the loop to
  // call out), this connection is not read: its next frames wait their turn.
  ++conn.busy;
  updateInterest(conn);
  if (iiop) {
    iiop_->onFrame(ch, frame);
  } else if (callbacks_.on_frame) {
    callbacks_.on_frame(ch, frame);
  }
  --conn.busy;
  if (!conn.closed) updateInterest(conn);
}

void EventLoop::updateInterest(Connection& conn) {
  short interest = 0;
  if (conn.out_bytes > 0) interest |= kWritable;
  if (conn.busy == 0 && !conn.eof && conn.out_bytes < kMaxQueuedBytes) {
    interest |= kReadable;
  }
  setInterest(conn.socket.get(), interest);
}

void EventLoop::onReady(Connection& conn, short ready) {
  if (ready & kInvalid) {
    closeWith(conn, wsiFailure(WsiError::kInvalidSocket));
    return;
  }
  if (ready & kWritable) writeTo(conn);
  if (!conn.closed && conn.busy == 0 &&
      (ready & (kReadable | kHangUp | kError))) {
    readFrom(conn);
  }
  if (!conn.closed && conn.busy == 0) {
    // Frames left behind while the connection was busy.
    if (conn.pending_pos < conn.pending.size()) processInput(conn);
  }
  if (!conn.closed) updateInterest(conn);
}

void EventLoop::refuseTooLarge(Connection& conn) {
  const Channel& ch = *conn.channel;
  const ChannelTexts names = describe(ch);
  std::string who =
      names.server_name.empty() ? ch.description() : names.server_name;
  std::string host =
      names.host_name.empty() ? ch.peerAddress().dotted() : names.host_name;
  trace("Got too large a message, from client: " + who + ", on host: " + host +
            ".",
        false);
  trace(
      "Purported size was: " + std::to_string(conn.assembler.purportedSize()) +
          " Max allowed is " + std::to_string(conn.assembler.maxSize()),
      false);
  trace("Closing connection.", false);
  closeWith(conn, fail<CORBA::COMM_FAILURE>(kMinorFrame));
}

Status EventLoop::send(Channel& channel, ByteView body) {
  Connection* conn = connectionOf(channel);
  if (conn == nullptr) return wsiFailure(WsiError::kInvalidSocket);
  return queue(*conn, makeTalvoFrame(body), std::nullopt);
}

Status EventLoop::send(Channel& channel, MessageBuffer&& message) {
  Connection* conn = connectionOf(channel);
  if (conn == nullptr) return wsiFailure(WsiError::kInvalidSocket);
  message.finish();
  return queue(*conn, {}, std::move(message));
}

Status EventLoop::sendRaw(Channel& channel, ByteView bytes) {
  Connection* conn = connectionOf(channel);
  if (conn == nullptr) return wsiFailure(WsiError::kInvalidSocket);
  return queue(*conn, Bytes(bytes.begin(), bytes.end()), std::nullopt);
}

Status EventLoop::queue(Connection& conn, Bytes bytes,
                        std::optional<MessageBuffer> buffer) {
  OutItem item;
  item.size =
      buffer ? buffer->bodySize() + MessageBuffer::kLengthBytes : bytes.size();
  item.bytes = std::move(bytes);
  item.buffer = std::move(buffer);
  conn.out_bytes += item.size;
  conn.out.push_back(std::move(item));
  // Only the first of a run of queued frames writes at once; the rest go
  // out when the socket is ready again.
  if (conn.out_bytes == conn.out.back().size) writeTo(conn);
  if (!conn.closed) updateInterest(conn);
  if (conn.closed) {
    return fail<CORBA::COMM_FAILURE>(kMinorSend,
                                     socketErrorText(platform::kWsaEconnreset));
  }
  return nullptr;
}

void EventLoop::writeTo(Connection& conn) {
  std::vector<std::span<const std::uint8_t>> pieces;
  while (conn.out_bytes > 0 && !conn.closed) {
    pieces.clear();
    std::size_t skip = conn.out_offset;
    for (const OutItem& item : conn.out) {
      if (pieces.size() >= 64) break;
      auto add = [&](std::span<const std::uint8_t> piece) {
        if (skip >= piece.size()) {
          skip -= piece.size();
          return;
        }
        pieces.push_back(piece.subspan(skip));
        skip = 0;
      };
      if (item.buffer) {
        for (const auto& piece : item.buffer->pieces()) add(piece);
      } else {
        add(item.bytes);
      }
    }
    std::size_t sent = 0;
    int code = platform::sendPieces(conn.socket.get(), pieces, sent);
    if (code == platform::kWsaEwouldblock) return;
    if (code != 0) {
      closeWith(conn, socketFailure(kMinorSend, code));
      return;
    }
    conn.out_bytes -= sent;
    conn.out_offset += sent;
    while (!conn.out.empty() && conn.out_offset >= conn.out.front().size) {
      conn.out_offset -= conn.out.front().size;
      conn.out.pop_front();
    }
    if (sent == 0) return;
  }
}

void EventLoop::close(Channel& channel) {
  if (Connection* conn = connectionOf(channel)) closeWith(*conn, nullptr);
}

void EventLoop::closeWith(Connection& conn, Status reason) {
  if (conn.closed) return;
  conn.closed = true;
  Channel& ch = *conn.channel;
  unwatch(conn.socket.get());
  platform::shutdownBoth(conn.socket.get());
  conn.socket.reset();
  ch.connected_ = false;
  conn.out.clear();
  conn.out_bytes = 0;
  trace(describe(ch).end_of_connection, true);
  for (Waiter* w : waiters_) {
    if (w->channel_id == ch.id() && !w->done) {
      w->closed = true;
      if (reason) w->reason = reason->cloneSystem();
    }
  }
  if (callbacks_.on_closed) callbacks_.on_closed(ch, reason.get());
  auto it = connections_.find(ch.id());
  closed_.push_back(std::move(it->second));
  connections_.erase(it);
}

void EventLoop::purgeClosed() { closed_.clear(); }

Status EventLoop::waitForFrame(Channel& channel,
                               const std::function<bool(ByteView)>& match,
                               int timeout_ms, Bytes& out) {
  Connection* conn = connectionOf(channel);
  if (conn == nullptr) return wsiFailure(WsiError::kInvalidSocket);
  Waiter waiter{channel.id(), &match, {}, false, false, nullptr};
  waiters_.push_back(&waiter);
  struct Unregister {
    std::vector<Waiter*>& list;
    Waiter* w;
    ~Unregister() { list.erase(std::find(list.begin(), list.end(), w)); }
  } unregister{waiters_, &waiter};

  // Frames already received (when called from a callback of this channel).
  processInput(*conn);
  const Clock::time_point deadline =
      timeout_ms < 0 ? Clock::time_point::max()
                     : Clock::now() + std::chrono::milliseconds(timeout_ms);
  if (Status st =
          runUntil([&] { return waiter.done || waiter.closed; }, deadline)) {
    return st;
  }
  if (waiter.done) {
    out = std::move(waiter.frame);
    return nullptr;
  }
  if (waiter.reason) return std::move(waiter.reason);
  return fail<CORBA::COMM_FAILURE>(kMinorReceive,
                                   socketErrorText(platform::kWsaEconnreset));
}

}  // namespace talvo
