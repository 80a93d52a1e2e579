#include "platform/wake_signal.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/errors.h"

namespace talvo::platform {

WakeSignal::~WakeSignal() {
  if (fd_ >= 0) ::close(fd_);
}

int WakeSignal::open() {
  if (fd_ >= 0) return 0;
  fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  return fd_ < 0 ? lastWinsockCode() : 0;
}

void WakeSignal::raise() const {
  if (fd_ < 0) return;
  const int saved = errno;
  const std::uint64_t one = 1;
  // A full counter (EAGAIN) is readable already; nothing else can fail.
  ssize_t rc;
  do {
    rc = ::write(fd_, &one, sizeof one);
  } while (rc < 0 && errno == EINTR);
  errno = saved;
}

void WakeSignal::drain() const {
  if (fd_ < 0) return;
  std::uint64_t count;
  ssize_t rc;
  do {
    rc = ::read(fd_, &count, sizeof count);
  } while (rc < 0 && errno == EINTR);
}

}  // namespace talvo::platform
