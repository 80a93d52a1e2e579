#include "platform/poller.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/errors.h"

namespace talvo::platform {
namespace {

using Clock = std::chrono::steady_clock;

// The poll(2) bits asked for, as epoll's (the same values on Linux).
std::uint32_t epollEvents(short events) {
  static_assert(EPOLLIN == kWaitRead && EPOLLOUT == kWaitWrite &&
                EPOLLERR == kWaitError && EPOLLHUP == kWaitHangUp);
  return static_cast<std::uint32_t>(static_cast<unsigned short>(events));
}

}  // namespace

Poller::Poller() {
  fd_ = ::epoll_create1(EPOLL_CLOEXEC);
  if (fd_ < 0) status_ = lastWinsockCode();
}

Poller::~Poller() {
  if (fd_ >= 0) ::close(fd_);
}

int Poller::set(int fd, short events, short was) {
  if (fd_ < 0) return status_;
  epoll_event ev{};
  ev.events = epollEvents(events);
  ev.data.fd = fd;
  if (events == 0) {
    if (was == 0) return 0;
    // A descriptor closed already has left the set.
    if (::epoll_ctl(fd_, EPOLL_CTL_DEL, fd, nullptr) < 0 && errno != ENOENT &&
        errno != EBADF) {
      return lastWinsockCode();
    }
    return 0;
  }
  int op = was == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD;
  if (::epoll_ctl(fd_, op, fd, &ev) == 0) return 0;
  // The set's view differs from ours: the descriptor was closed and its
  // number reused (not in the set), or it is in the set already.
  if (op == EPOLL_CTL_MOD && errno == ENOENT) {
    op = EPOLL_CTL_ADD;
  } else if (op == EPOLL_CTL_ADD && errno == EEXIST) {
    op = EPOLL_CTL_MOD;
  } else {
    return lastWinsockCode();
  }
  return ::epoll_ctl(fd_, op, fd, &ev) == 0 ? 0 : lastWinsockCode();
}

int Poller::wait(std::vector<WaitEntry>& ready, std::size_t max,
                 int timeout_ms) {
  ready.clear();
  if (fd_ < 0) return status_;
  if (max == 0) max = 1;
  // Kept from one wait to the next of the same thread.
  thread_local std::vector<epoll_event> events;
  if (events.size() < max) events.resize(max);
  const bool timed = timeout_ms > 0;
  const Clock::time_point start = timed ? Clock::now() : Clock::time_point{};
  int wait_ms = timeout_ms;
  int rc;
  for (;;) {
    rc = ::epoll_wait(fd_, events.data(), static_cast<int>(max), wait_ms);
    if (rc >= 0 || errno != EINTR) break;
    if (timed) {
      const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                             Clock::now() - start)
                             .count();
      wait_ms = spent >= timeout_ms ? 0 : timeout_ms - static_cast<int>(spent);
    }
  }
  if (rc < 0) return lastWinsockCode();
  for (int i = 0; i < rc; ++i) {
    ready.push_back({events[static_cast<std::size_t>(i)].data.fd, 0,
                     static_cast<short>(
                         events[static_cast<std::size_t>(i)].events & 0xffff)});
  }
  return 0;
}

}  // namespace talvo::platform
