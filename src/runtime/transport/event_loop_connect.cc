// Opening channels: listening, and connecting without blocking (the name
// lookup on a helper thread, the connect as a write event, time-outs and
// retries as timers).

#include <atomic>
#include <cstdlib>
#include <thread>

#include "platform/errors.h"
#include "runtime/transport/event_loop.h"
#include "runtime/transport/event_loop_internal.h"
#include "runtime/transport/socket_failure.h"

namespace talvo {
namespace {

constexpr int kDefaultConnectAttempts = 10;

// A decimal port as atoi reads it (leading blanks, sign, digits; anything
// else stops the number); out of range reads as 0.
std::uint16_t portNumber(const std::string& text) {
  long value = std::strtol(text.c_str(), nullptr, 10);
  return value > 0 && value <= 65535 ? static_cast<std::uint16_t>(value) : 0;
}

int attemptsFrom(const std::optional<std::string>& value) {
  if (!value) return kDefaultConnectAttempts;
  long n = std::strtol(value->c_str(), nullptr, 10);
  // A count of zero, or one that is not a number, means the default; so
  // does a negative count, which would otherwise end the retries at once.
  return n > 0 && n <= 1000000 ? static_cast<int>(n) : kDefaultConnectAttempts;
}

std::chrono::milliseconds until(std::chrono::steady_clock::time_point when) {
  const auto now = std::chrono::steady_clock::now();
  if (when <= now) return std::chrono::milliseconds(0);
  const auto max = std::chrono::hours(24 * 365);
  if (when - now > max) return max;
  return std::chrono::ceil<std::chrono::milliseconds>(when - now);
}

// A name lookup on the helper thread, handed back through a waker.
struct Lookup {
  std::atomic<bool> done{false};
  int code = 0;
  std::uint32_t address = 0;
};

}  // namespace

Status EventLoop::listen(const std::string& port, std::uint16_t* bound,
                         int* descriptor) {
  auto listener = std::make_unique<Listener>();
  int code = platform::openStreamSocket(listener->socket);
  const int fd = listener->socket.get();
  if (code == 0) code = platform::setReuseAddress(fd);
  if (code == 0) code = platform::bindAny(fd, portNumber(port));
  if (code == 0) code = platform::listenOn(fd, platform::systemListenBacklog());
  platform::SocketAddress local;
  if (code == 0) code = platform::localAddress(fd, local);
  if (code != 0) return socketFailure(kMinorSocket, code);
  listener->port = local.port;
  if (bound != nullptr) *bound = local.port;
  if (descriptor != nullptr) *descriptor = fd;
  Listener* l = listener.get();
  listeners_.push_back(std::move(listener));
  watch(fd, kReadable, [this, l](short) { acceptAll(*l); });
  return nullptr;
}

std::uint64_t EventLoop::connectAsync(const std::string& host,
                                      const std::string& port, bool retries,
                                      Clock::time_point deadline,
                                      ConnectDone done,
                                      std::string_view transport) {
  auto c = std::make_unique<Connecting>();
  const std::uint64_t id = next_connect_++;
  c->id = id;
  c->host = host;
  c->port_text = port;
  c->port = portNumber(port);
  c->secure = transport == "SSL-TCP";
  c->retries = retries;
  c->attempts_left = retries ? attemptsFrom(context_.connectAttempts()) : 1;
  c->deadline = deadline;
  c->done = std::move(done);
  connecting_.emplace(id, std::move(c));
  // Started from the loop, so that `done` never runs inside this call.
  addTimer(std::chrono::milliseconds(0), [this, id] {
    auto it = connecting_.find(id);
    if (it == connecting_.end()) return;
    if (it->second->secure && secure_ == nullptr) {
      finishConnect(id, fail<CORBA::SSL_FAILURE>(kMinorNoSecureTransport),
                    nullptr);
      return;
    }
    startAttempt(*it->second);
  });
  return id;
}

void EventLoop::cancelConnect(std::uint64_t id) {
  auto it = connecting_.find(id);
  if (it == connecting_.end()) return;
  Connecting& c = *it->second;
  if (c.timer != 0) cancelTimer(c.timer);
  if (c.socket.valid()) unwatch(c.socket.get());
  connecting_.erase(it);
}

void EventLoop::startAttempt(Connecting& c) {
  const std::uint64_t id = c.id;
  if (!c.socket.valid()) {
    if (int code = platform::openStreamSocket(c.socket)) {
      finishConnect(id, socketFailure(kMinorSocket, code), nullptr);
      return;
    }
  }
  if (!c.resolved && platform::parseDotted(c.host, c.address)) {
    c.resolved = true;
  }
  if (!c.resolved) {
    auto lookup = std::make_shared<Lookup>();
    c.resolver = makeWaker([this, id, lookup] {
      auto it = connecting_.find(id);
      if (it == connecting_.end() || !lookup->done.load()) return;
      Connecting& c = *it->second;
      c.resolver.reset();
      if (c.timer != 0) cancelTimer(c.timer);
      c.timer = 0;
      if (lookup->code != 0) {
        finishConnect(id, fail<CORBA::COMM_FAILURE>(kMinorNoHost, c.host),
                      nullptr);
        return;
      }
      c.address = lookup->address;
      c.resolved = true;
      startAttempt(c);
    });
    c.timer =
        addTimer(until(std::min(c.deadline, Clock::now() + connect_timeout_)),
                 [this, id] { attemptEnded(id, platform::kWsaEtimedout); });
    std::thread([host = c.host, lookup, waker = c.resolver] {
      std::uint32_t address = 0;
      lookup->code = platform::resolveHost(host, address);
      lookup->address = address;
      lookup->done.store(true);
      waker->wake();
    }).detach();
    return;
  }
  const int fd = c.socket.get();
  int code = platform::startConnect(fd, {c.address, c.port});
  if (code == platform::kWsaEinprogress || code == platform::kWsaEwouldblock) {
    watch(fd, kWritable, [this, id, fd](short) {
      attemptEnded(id, platform::connectResult(fd));
    });
    c.timer =
        addTimer(until(std::min(c.deadline, Clock::now() + connect_timeout_)),
                 [this, id] { attemptEnded(id, platform::kWsaEtimedout); });
    return;
  }
  attemptEnded(id, code);
}

void EventLoop::attemptEnded(std::uint64_t id, int code) {
  auto it = connecting_.find(id);
  if (it == connecting_.end()) return;
  Connecting& c = *it->second;
  if (c.timer != 0) cancelTimer(c.timer);
  c.timer = 0;
  c.resolver.reset();
  if (c.socket.valid()) unwatch(c.socket.get());
  if (code == 0) {
    Channel& ch = addConnection(std::move(c.socket), {c.address, c.port}, true);
    Status status;
    if (c.secure && ch.connected()) {
      if ((status = secure_->secure(ch))) close(ch);
    }
    if (!status && !ch.connected()) {
      status = fail<CORBA::COMM_FAILURE>(
          kMinorConnect, socketErrorText(platform::kWsaEconnreset));
    }
    Channel* out = status ? nullptr : &ch;
    finishConnect(id, std::move(status), out);
    return;
  }
  c.socket.reset();
  if (code == platform::kWsaEconnrefused) {
    if (c.retries) {
      trace("Retrying connection to host `" + c.host + "' port " + c.port_text +
                "]",
            true);
    }
    if (--c.attempts_left <= 0) {
      finishConnect(id, fail<CORBA::COMM_FAILURE>(kMinorRefused), nullptr);
      return;
    }
    if (Clock::now() + context_.retryPause() >= c.deadline) {
      c.timer = addTimer(until(c.deadline), [this, id] {
        attemptEnded(id, platform::kWsaEtimedout);
      });
      return;
    }
    c.timer = addTimer(context_.retryPause(), [this, id] {
      auto it = connecting_.find(id);
      if (it == connecting_.end()) return;
      it->second->timer = 0;
      startAttempt(*it->second);
    });
    return;
  }
  if (code == platform::kWsaEtimedout) {
    finishConnect(id, fail<CORBA::COMM_FAILURE>(kMinorTimeout), nullptr);
    return;
  }
  finishConnect(id, socketFailure(kMinorConnect, code), nullptr);
}

void EventLoop::finishConnect(std::uint64_t id, Status status,
                              Channel* channel) {
  auto it = connecting_.find(id);
  if (it == connecting_.end()) return;
  std::unique_ptr<Connecting> c = std::move(it->second);
  connecting_.erase(it);
  if (c->timer != 0) cancelTimer(c->timer);
  if (c->socket.valid()) unwatch(c->socket.get());
  c->done(std::move(status), channel);
}

Status EventLoop::connectOnce(const std::string& host, std::uint16_t port,
                              Channel** out, std::string_view transport) {
  return connectNow(host, std::to_string(port), false, out, transport);
}

Status EventLoop::connect(const std::string& host, const std::string& port,
                          Channel** out, std::string_view transport) {
  return connectNow(host, port, true, out, transport);
}

Status EventLoop::connectNow(const std::string& host, const std::string& port,
                             bool retries, Channel** out,
                             std::string_view transport) {
  if (out != nullptr) *out = nullptr;
  bool finished = false;
  Status result;
  Channel* channel = nullptr;
  const std::uint64_t id = connectAsync(
      host, port, retries, Clock::time_point::max(),
      [&](Status status, Channel* ch) {
        finished = true;
        result = std::move(status);
        channel = ch;
      },
      transport);
  if (Status st =
          runUntil([&] { return finished; }, Clock::time_point::max())) {
    cancelConnect(id);
    return st;
  }
  if (out != nullptr) *out = channel;
  return result;
}

}  // namespace talvo
