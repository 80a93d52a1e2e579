// The channels of the event loop: accepting, reading, queued writes and
// closing.

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
  auto conn = std::make_unique<Connection>();
  conn->channel = std::make_unique<TalvoTCPChannel>();
  Channel& ch = *conn->channel;
  ch.identity_ = platform::identifyPeer(socket.get(), peer);
  ch.identity_.channel = next_id_++;
  ch.connected_ = true;
  ch.outgoing_ = outgoing;
  platform::setNoDelay(socket.get());
  conn->socket = std::move(socket);
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
  while (!conn.eof && !conn.closed && total < kReadBudget) {
    // Read into the loop's scratch space (no zero-filling); the upper
    // layer copies what it keeps before it can run the loop again.
    read_scratch_.resize(kReadPiece);
    std::size_t got = 0;
    int code = platform::receiveSome(conn.socket.get(), read_scratch_, got);
    if (code == platform::kWsaEwouldblock) break;
    if (code != 0) {
      closeWith(conn, socketFailure(kMinorReceive, code));
      return;
    }
    if (got == 0) {
      conn.eof = true;
      break;
    }
    total += got;
    deliver(conn, ByteView(read_scratch_.data(), got));
    // A short read emptied the socket's queue: what arrives later is
    // reported by the next wait, so no read is spent to hear EAGAIN.
    if (got < kReadPiece) break;
  }
  if (conn.eof && !conn.closed) {
    // Hand over what is still queued if the socket takes it, then close.
    if (conn.out_bytes > 0) writeTo(conn);
    if (!conn.closed) closeWith(conn, nullptr);
  }
}

void EventLoop::deliver(Connection& conn, ByteView bytes) {
  if (!callbacks_.on_data) return;
  // While the upper layer handles the bytes (and perhaps runs the loop to
  // call out), this connection is not read: its next bytes wait their turn.
  ++conn.busy;
  updateInterest(conn);
  callbacks_.on_data(*conn.channel, bytes);
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
  if (!conn.closed) updateInterest(conn);
}

Status EventLoop::send(Channel& channel, ByteView bytes) {
  Connection* conn = connectionOf(channel);
  if (conn == nullptr) return wsiFailure(WsiError::kInvalidSocket);
  return queue(*conn, Bytes(bytes.begin(), bytes.end()), std::nullopt);
}

Status EventLoop::send(Channel& channel, Bytes&& bytes) {
  Connection* conn = connectionOf(channel);
  if (conn == nullptr) return wsiFailure(WsiError::kInvalidSocket);
  return queue(*conn, std::move(bytes), std::nullopt);
}

Status EventLoop::send(Channel& channel, MessageBuffer&& message) {
  Connection* conn = connectionOf(channel);
  if (conn == nullptr) return wsiFailure(WsiError::kInvalidSocket);
  return queue(*conn, {}, std::move(message));
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
  // Only the first of a run of queued messages writes at once; the rest go
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

void EventLoop::close(Channel& channel, Status reason) {
  if (Connection* conn = connectionOf(channel)) {
    closeWith(*conn, std::move(reason));
  }
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
  if (callbacks_.on_closed) callbacks_.on_closed(ch, reason.get());
  auto it = connections_.find(ch.id());
  closed_.push_back(std::move(it->second));
  connections_.erase(it);
}

void EventLoop::purgeClosed() { closed_.clear(); }

}  // namespace talvo
