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

// Bytes read from one connection per pass (one read), so that a peer that
// sends without pause cannot keep the loop from the others.
constexpr std::size_t kReadPiece = 64 * 1024;
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

void EventLoop::setLimits(const LoopLimits& limits) {
  limits_ = limits;
  if (limits_.requests_per_pass == 0) limits_.requests_per_pass = 1;
  resumePaused();
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
  if (!outgoing) {
    ++accepted_;
    c->idle_pos = idle_order_.insert(idle_order_.end(), c);
  }
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
    makeRoom();
  }
}

// Past the cap on connections, the accepted connection idle for longest
// goes, unless the keep guard names it or the loop is inside its handler.
void EventLoop::makeRoom() {
  if (limits_.max_connections == 0 || accepted_ <= limits_.max_connections) {
    return;
  }
  for (Connection* c : idle_order_) {
    if (c->busy != 0 || (keep_ && keep_(*c->channel))) continue;
    trace("Too many connections: closing the one idle for longest.", true);
    closeWith(*c, nullptr);
    return;
  }
}

// One read per pass, of at most what the budget allows this connection.
void EventLoop::readFrom(Connection& conn) {
  if (conn.more) return;  // its held messages are served first
  const std::size_t allowance = readAllowance(conn);
  if (allowance == 0) {
    if (!conn.paused) {
      conn.paused = true;
      ++paused_;
    }
    return;
  }
  // Read into the loop's scratch space (no zero-filling); the upper layer
  // copies what it keeps before it can run the loop again.
  read_scratch_.resize(kReadPiece);
  std::size_t got = 0;
  int code = platform::receiveSome(
      conn.socket.get(), std::span(read_scratch_.data(), allowance), got);
  if (code == platform::kWsaEwouldblock) return;
  if (code != 0) {
    closeWith(conn, socketFailure(kMinorReceive, code));
    return;
  }
  if (got == 0) {
    conn.eof = true;
    // Hand over what is still queued if the socket takes it, then close.
    if (conn.out_bytes > 0) writeTo(conn);
    if (!conn.closed) closeWith(conn, nullptr);
    return;
  }
  conn.last_read = Clock::now();
  touch(conn);
  deliver(conn, ByteView(read_scratch_.data(), got));
}

// Up to one read piece: what is left of the budget, and at least what the
// connection may always hold.
std::size_t EventLoop::readAllowance(const Connection& conn) const {
  std::size_t allowance = 0;
  if (total_held_ < limits_.buffer_budget) {
    allowance = limits_.buffer_budget - total_held_;
  }
  const std::size_t own = conn.held + conn.out_bytes;
  if (own < limits_.connection_floor) {
    allowance = std::max(allowance, limits_.connection_floor - own);
  }
  return std::min(allowance, kReadPiece);
}

void EventLoop::touch(Connection& conn) {
  if (!conn.channel->outgoing()) {
    idle_order_.splice(idle_order_.end(), idle_order_, conn.idle_pos);
  }
}

void EventLoop::setHeld(Connection& conn, std::size_t held) {
  total_held_ = total_held_ - conn.held + held;
  conn.held = held;
}

void EventLoop::deliver(Connection& conn, ByteView bytes) {
  if (!callbacks_.on_data) return;
  // While the upper layer handles the bytes (and perhaps runs the loop to
  // call out), this connection is not read: its next bytes wait their turn.
  ++conn.busy;
  conn.last_pass = pass_;
  updateInterest(conn);
  const DataState state = callbacks_.on_data(*conn.channel, bytes);
  --conn.busy;
  if (conn.closed) return;
  setHeld(conn, state.held);
  conn.more = state.more;
  if (conn.more && !conn.in_backlog) {
    conn.in_backlog = true;
    backlog_.push_back(conn.channel->id());
  }
  conn.partial = state.partial;
  if (conn.partial && conn.stall_timer == 0) {
    armStallTimer(conn);
  } else if (!conn.partial && conn.stall_timer != 0) {
    cancelTimer(conn.stall_timer);
    conn.stall_timer = 0;
  }
  updateInterest(conn);
}

void EventLoop::armStallTimer(Connection& conn) {
  if (limits_.stall_timeout.count() <= 0) return;
  const std::uint64_t id = conn.channel->id();
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(
      conn.last_read + limits_.stall_timeout - Clock::now());
  conn.stall_timer = addTimer(std::max(left, std::chrono::milliseconds(1)),
                              [this, id] { stallCheck(id); });
}

// A connection inside a message that brought nothing for the stall
// time-out is closed; one that made progress is looked at again later.
void EventLoop::stallCheck(std::uint64_t id) {
  auto it = connections_.find(id);
  if (it == connections_.end() || it->second->closed) return;
  Connection& conn = *it->second;
  conn.stall_timer = 0;
  if (!conn.partial) return;
  if (Clock::now() - conn.last_read >= limits_.stall_timeout) {
    trace("Closing a connection stalled inside a message.", true);
    closeWith(conn, fail<CORBA::COMM_FAILURE>(kMinorTimeout));
    return;
  }
  armStallTimer(conn);
}

// Messages held back by the per-pass limit are served in turn, a share of
// each connection's per pass.
std::size_t EventLoop::serveBacklog() {
  if (backlog_.empty()) return 0;
  // A few held connections per pass, then the loop looks for new events
  // again: a client with one request does not wait behind every pipelining
  // one. The rest keep their order for the next passes.
  const std::size_t n = std::min(backlog_.size(), kHeldPerPass);
  std::vector<std::uint64_t> turn(backlog_.begin(), backlog_.begin() + n);
  backlog_.erase(backlog_.begin(), backlog_.begin() + n);
  std::size_t served = 0;
  for (std::uint64_t id : turn) {
    auto it = connections_.find(id);
    if (it == connections_.end() || it->second->closed) continue;
    Connection& conn = *it->second;
    // Its handler still runs, or it had its share of this pass already.
    if (conn.busy != 0 || conn.last_pass == pass_) {
      backlog_.push_back(id);
      continue;
    }
    conn.in_backlog = false;
    if (!conn.more) continue;
    ++served;
    deliver(conn, {});
    // Its answers leave now, not after the rest of the turn.
    flushPending();
  }
  return served;
}

// Lets paused connections be read again once the total is under the
// budget.
void EventLoop::resumePaused() {
  if (paused_ == 0 || total_held_ >= limits_.buffer_budget) return;
  paused_ = 0;
  for (auto& [id, conn] : connections_) {
    if (!conn->paused) continue;
    conn->paused = false;
    if (!conn->closed) updateInterest(*conn);
  }
}

void EventLoop::updateInterest(Connection& conn) {
  short interest = 0;
  // Output queued during a pass waits for the pass's end, not for a wait.
  if (conn.out_bytes > 0 && !conn.unflushed) interest |= kWritable;
  if (conn.busy == 0 && !conn.eof && !conn.more && !conn.paused &&
      conn.out_bytes < kMaxQueuedBytes) {
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
  total_held_ += item.size;
  conn.out.push_back(std::move(item));
  if (depth_ > 0) {
    // Inside a pass: everything the pass queues goes out in one write at
    // its end (a socket still busy with earlier output writes when ready).
    if (!conn.unflushed && conn.out_bytes == conn.out.back().size) {
      conn.unflushed = true;
      unflushed_.push_back(conn.channel->id());
    }
    return nullptr;
  }
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
  std::vector<std::span<const std::uint8_t>>& pieces = spare_->pieces;
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
    total_held_ -= sent;
    conn.out_offset += sent;
    while (!conn.out.empty() && conn.out_offset >= conn.out.front().size) {
      conn.out_offset -= conn.out.front().size;
      conn.out.pop_front();
    }
    if (sent == 0) return;
  }
}

// Writes what was queued since the last flush, one write per connection.
void EventLoop::flushPending() {
  while (!unflushed_.empty()) {
    // The two lists trade buffers, so a pass allocates nothing for them.
    std::vector<std::uint64_t> ids = std::move(spare_->unflushed);
    ids.clear();
    ids.swap(unflushed_);
    for (std::uint64_t id : ids) {
      auto it = connections_.find(id);
      if (it == connections_.end() || it->second->closed) continue;
      Connection& conn = *it->second;
      conn.unflushed = false;
      writeTo(conn);
      if (!conn.closed) updateInterest(conn);
    }
    spare_->unflushed = std::move(ids);
  }
  resumePaused();
}

void EventLoop::close(Channel& channel, Status reason) {
  if (Connection* conn = connectionOf(channel)) {
    closeWith(*conn, std::move(reason));
  }
}

void EventLoop::closeWith(Connection& conn, Status reason) {
  if (conn.closed) return;
  if (conn.unflushed) {
    // What this pass queued goes out first, as far as the socket takes
    // it (a last answer before a close, for example).
    conn.unflushed = false;
    writeTo(conn);
    if (conn.closed) return;
  }
  conn.closed = true;
  Channel& ch = *conn.channel;
  unwatch(conn.socket.get());
  platform::shutdownBoth(conn.socket.get());
  conn.socket.reset();
  ch.connected_ = false;
  total_held_ -= conn.out_bytes + conn.held;
  conn.out.clear();
  conn.out_bytes = 0;
  conn.held = 0;
  if (conn.paused) --paused_;
  if (conn.stall_timer != 0) cancelTimer(conn.stall_timer);
  if (!ch.outgoing()) {
    --accepted_;
    idle_order_.erase(conn.idle_pos);
  }
  trace(describe(ch).end_of_connection, true);
  if (callbacks_.on_closed) callbacks_.on_closed(ch, reason.get());
  auto it = connections_.find(ch.id());
  closed_.push_back(std::move(it->second));
  connections_.erase(it);
}

void EventLoop::purgeClosed() { closed_.clear(); }

}  // namespace talvo
