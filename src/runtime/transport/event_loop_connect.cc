// Opening channels: listening, connecting once and with retries.

#include <charconv>
#include <cstdlib>

#include "platform/errors.h"
#include "runtime/transport/event_loop.h"
#include "runtime/transport/event_loop_internal.h"
#include "runtime/transport/socket_failure.h"

namespace talvo {
namespace {

constexpr int kListenBacklog = 5;
constexpr int kDefaultConnectAttempts = 10;
constexpr auto kRetryPause = std::chrono::seconds(2);

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

bool isRefusal(const Status& status) {
  return status && status->minor() == kMinorRefused &&
         dynamic_cast<const CORBA::COMM_FAILURE*>(status.get()) != nullptr;
}

}  // namespace

Status EventLoop::listen(const std::string& port, std::uint16_t* bound) {
  auto listener = std::make_unique<Listener>();
  int code = platform::openStreamSocket(listener->socket);
  const int fd = listener->socket.get();
  if (code == 0) code = platform::setReuseAddress(fd);
  if (code == 0) code = platform::bindAny(fd, portNumber(port));
  if (code == 0) code = platform::listenOn(fd, kListenBacklog);
  platform::SocketAddress local;
  if (code == 0) code = platform::localAddress(fd, local);
  if (code != 0) return socketFailure(kMinorSocket, code);
  listener->port = local.port;
  if (bound != nullptr) *bound = local.port;
  listeners_.push_back(std::move(listener));
  return nullptr;
}

Status EventLoop::connectOnce(const std::string& host, std::uint16_t port,
                              Channel** out, std::string_view transport) {
  if (out != nullptr) *out = nullptr;
  const bool wants_secure = transport == "SSL-TCP";
  if (wants_secure && secure_ == nullptr) {
    return fail<CORBA::SSL_FAILURE>(kMinorNoSecureTransport);
  }
  platform::SocketHandle socket;
  if (int code = platform::openStreamSocket(socket)) {
    return socketFailure(kMinorSocket, code);
  }
  std::uint32_t address = 0;
  if (platform::resolveHost(host, address) != 0) {
    return fail<CORBA::COMM_FAILURE>(kMinorNoHost, host);
  }
  const platform::SocketAddress to{address, port};
  int code = platform::startConnect(socket.get(), to);
  if (code == platform::kWsaEinprogress || code == platform::kWsaEwouldblock) {
    code = platform::finishConnect(socket.get(),
                                   static_cast<int>(connect_timeout_.count()));
  }
  if (code == platform::kWsaEconnrefused) {
    return fail<CORBA::COMM_FAILURE>(kMinorRefused);
  }
  if (code == platform::kWsaEtimedout) {
    return fail<CORBA::COMM_FAILURE>(kMinorTimeout);
  }
  if (code != 0) return socketFailure(kMinorConnect, code);

  Channel& ch = addConnection(std::move(socket), to, true);
  if (wants_secure && ch.connected()) {
    if (Status status = secure_->secure(ch)) {
      close(ch);
      return status;
    }
  }
  if (!ch.connected()) {
    return fail<CORBA::COMM_FAILURE>(kMinorConnect,
                                     socketErrorText(platform::kWsaEconnreset));
  }
  if (out != nullptr) *out = &ch;
  return nullptr;
}

Status EventLoop::connect(const std::string& host, const std::string& port,
                          Channel** out, std::string_view transport) {
  int left = attemptsFrom(context_.connectAttempts());
  const std::uint16_t port_number = portNumber(port);
  for (;;) {
    Status status = connectOnce(host, port_number, out, transport);
    if (!isRefusal(status)) return status;
    --left;
    trace("Retrying connection to host `" + host + "' port " + port + "]",
          true);
    if (left <= 0) return fail<CORBA::COMM_FAILURE>(kMinorRefused);
    context_.sleep(kRetryPause);
  }
}

}  // namespace talvo
