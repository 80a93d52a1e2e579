#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "platform/errors.h"
#include "platform/system_info.h"

namespace talvo::platform {
namespace {

static_assert(kWaitRead == POLLIN && kWaitWrite == POLLOUT &&
              kWaitError == POLLERR && kWaitHangUp == POLLHUP &&
              kWaitInvalid == POLLNVAL);

sockaddr_in toSockaddr(const SocketAddress& a) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(a.port);
  sin.sin_addr.s_addr = htonl(a.address);
  return sin;
}

SocketAddress fromSockaddr(const sockaddr_in& sin) {
  return SocketAddress{ntohl(sin.sin_addr.s_addr), ntohs(sin.sin_port)};
}

int resultOf(int rc) { return rc < 0 ? lastWinsockCode() : 0; }

using Clock = std::chrono::steady_clock;

// Milliseconds left of a wait that started at `start`; negative limits stay
// negative (no limit).
int remaining(Clock::time_point start, int timeout_ms) {
  if (timeout_ms < 0) return -1;
  auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                   Clock::now() - start)
                   .count();
  return spent >= timeout_ms ? 0 : timeout_ms - static_cast<int>(spent);
}

// The name of a uid, looked up again when the last look-up is more than a
// few seconds old: the user database is read once per burst of
// connections rather than once per connection.
std::string cachedUserName(std::uint32_t uid) {
  struct Entry {
    std::string name;
    Clock::time_point when;
  };
  thread_local std::unordered_map<std::uint32_t, Entry> names;
  const Clock::time_point now = Clock::now();
  auto it = names.find(uid);
  if (it != names.end() && now - it->second.when < std::chrono::seconds(5)) {
    return it->second.name;
  }
  if (names.size() > 1024) names.clear();
  std::string name = userNameOf(uid);
  names[uid] = Entry{name, now};
  return name;
}

}  // namespace

std::string SocketAddress::dotted() const {
  return std::to_string(address >> 24) + "." +
         std::to_string((address >> 16) & 0xff) + "." +
         std::to_string((address >> 8) & 0xff) + "." +
         std::to_string(address & 0xff);
}

SocketHandle& SocketHandle::operator=(SocketHandle&& other) noexcept {
  if (this != &other) {
    reset();
    fd_ = other.release();
  }
  return *this;
}

int SocketHandle::release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

int SocketHandle::reset() {
  if (fd_ < 0) return 0;
  // The descriptor is gone even when close reports an error; never retry.
  int rc = ::close(fd_);
  fd_ = -1;
  return resultOf(rc);
}

int openStreamSocket(SocketHandle& out) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return lastWinsockCode();
  out = SocketHandle(fd);
  return 0;
}

int setReuseAddress(int fd) {
  int on = 1;
  return resultOf(::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on));
}

int setNoDelay(int fd) {
  int on = 1;
  return resultOf(::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on));
}

int bindAny(int fd, std::uint16_t port) {
  sockaddr_in sin = toSockaddr(SocketAddress{INADDR_ANY, port});
  return resultOf(
      ::bind(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof sin));
}

int listenOn(int fd, int backlog) { return resultOf(::listen(fd, backlog)); }

int systemListenBacklog() {
  static const int backlog = [] {
    int value = SOMAXCONN;
    if (FILE* f = std::fopen("/proc/sys/net/core/somaxconn", "re")) {
      int read = 0;
      if (std::fscanf(f, "%d", &read) == 1 && read > 0) value = read;
      std::fclose(f);
    }
    return value;
  }();
  return backlog;
}

std::size_t descriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 ||
      limit.rlim_cur == RLIM_INFINITY) {
    return 1u << 20;
  }
  return static_cast<std::size_t>(limit.rlim_cur);
}

int startConnect(int fd, const SocketAddress& to) {
  sockaddr_in sin = toSockaddr(to);
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof sin);
  } while (rc < 0 && errno == EINTR);
  return resultOf(rc);
}

int finishConnect(int fd, int timeout_ms) {
  std::vector<WaitEntry> entries{WaitEntry{fd, kWaitWrite, 0}};
  int ready = 0;
  if (int code = waitForEvents(entries, timeout_ms, ready)) return code;
  if (ready == 0) return kWsaEtimedout;
  return connectResult(fd);
}

int connectResult(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) {
    return lastWinsockCode();
  }
  return winsockCodeFromErrno(err);
}

int acceptConnection(int listen_fd, SocketHandle& out, SocketAddress& peer) {
  sockaddr_in sin{};
  socklen_t len = sizeof sin;
  int fd;
  do {
    fd = ::accept4(listen_fd, reinterpret_cast<sockaddr*>(&sin), &len,
                   SOCK_NONBLOCK | SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return lastWinsockCode();
  out = SocketHandle(fd);
  peer = fromSockaddr(sin);
  return 0;
}

int sendPieces(int fd, std::span<const std::span<const std::uint8_t>> pieces,
               std::size_t& sent) {
  sent = 0;
  constexpr std::size_t kMaxPieces = 64;
  iovec iov[kMaxPieces];
  std::size_t count = 0;
  for (const auto& piece : pieces) {
    if (count == kMaxPieces) break;
    if (piece.empty()) continue;
    iov[count].iov_base = const_cast<std::uint8_t*>(piece.data());
    iov[count].iov_len = piece.size();
    ++count;
  }
  if (count == 0) return 0;
  msghdr msg{};
  msg.msg_iov = iov;
  msg.msg_iovlen = count;
  ssize_t n;
  do {
    n = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return lastWinsockCode();
  sent = static_cast<std::size_t>(n);
  return 0;
}

int receiveSome(int fd, std::span<std::uint8_t> buffer, std::size_t& received) {
  received = 0;
  ssize_t n;
  do {
    n = ::recv(fd, buffer.data(), buffer.size(), 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return lastWinsockCode();
  received = static_cast<std::size_t>(n);
  return 0;
}

int shutdownBoth(int fd) { return resultOf(::shutdown(fd, SHUT_RDWR)); }

int peerAddress(int fd, SocketAddress& out) {
  sockaddr_in sin{};
  socklen_t len = sizeof sin;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&sin), &len) < 0) {
    return lastWinsockCode();
  }
  out = fromSockaddr(sin);
  return 0;
}

int localAddress(int fd, SocketAddress& out) {
  sockaddr_in sin{};
  socklen_t len = sizeof sin;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) < 0) {
    return lastWinsockCode();
  }
  out = fromSockaddr(sin);
  return 0;
}

PeerIdentity identifyPeer(int fd, const SocketAddress& peer) {
  PeerIdentity id;
  id.peer = peer;
  id.descriptor = fd;
  localAddress(fd, id.local);
  ucred cred{};
  socklen_t len = sizeof cred;
  // The kernel fills the credentials of an AF_UNIX peer; for any other
  // socket it reports no process.
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 &&
      len == sizeof cred && cred.pid > 0) {
    id.credentials = PeerCredentials{cred.uid, cred.gid, cred.pid};
    id.local_uid = cred.uid;
    id.on_this_host = true;
  } else if (std::optional<SocketOwner> owner = socketOwner(peer, id.local)) {
    id.local_uid = owner->uid;
    id.on_this_host = true;
  } else {
    id.on_this_host = peer.isLoopback() || peer.address == id.local.address;
  }
  if (id.local_uid) id.local_user = cachedUserName(*id.local_uid);
  return id;
}

bool parseDotted(const std::string& host, std::uint32_t& address) {
  in_addr dotted{};
  if (::inet_pton(AF_INET, host.c_str(), &dotted) != 1) return false;
  address = ntohl(dotted.s_addr);
  return true;
}

int resolveHost(const std::string& host, std::uint32_t& address) {
  if (parseDotted(host, address)) return 0;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &result);
  int saved = errno;
  if (rc != 0) return winsockCodeFromResolver(rc, saved);
  if (result == nullptr) return kWsaNoData;
  address = ntohl(
      reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr.s_addr);
  ::freeaddrinfo(result);
  return 0;
}

int reverseLookup(std::uint32_t address, std::string& name) {
  sockaddr_in sin = toSockaddr(SocketAddress{address, 0});
  std::string host(NI_MAXHOST, '\0');
  int rc = ::getnameinfo(reinterpret_cast<const sockaddr*>(&sin), sizeof sin,
                         host.data(), host.size(), nullptr, 0, NI_NAMEREQD);
  int saved = errno;
  if (rc != 0) return winsockCodeFromResolver(rc, saved);
  host.resize(std::strlen(host.c_str()));
  name = std::move(host);
  return 0;
}

int waitForEvents(std::vector<WaitEntry>& entries, int timeout_ms, int& ready) {
  static_assert(sizeof(WaitEntry) == sizeof(pollfd));
  std::vector<pollfd> fds(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    fds[i] = pollfd{entries[i].fd, entries[i].events, 0};
  }
  const Clock::time_point start = Clock::now();
  int rc;
  do {
    rc = ::poll(fds.data(), fds.size(), remaining(start, timeout_ms));
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) return lastWinsockCode();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    entries[i].revents = fds[i].revents;
  }
  ready = rc;
  return 0;
}

}  // namespace talvo::platform
