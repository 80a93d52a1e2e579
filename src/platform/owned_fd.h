// OwnedFd: a file descriptor closed when it goes out of scope.
//
// For the platform layer's own file and socket code; `close()` closes
// early and says whether the close succeeded (a failing close may mean
// written data was lost).
//
// Thread safety: none; an OwnedFd belongs to one thread at a time.

#ifndef TALVO_PLATFORM_OWNED_FD_H_
#define TALVO_PLATFORM_OWNED_FD_H_

#include <unistd.h>

#include <utility>

namespace talvo::platform {

class OwnedFd {
 public:
  explicit OwnedFd(int fd) : fd_(fd) {}
  ~OwnedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;

  int get() const { return fd_; }
  // Closes now; false when the close failed.
  bool close() { return ::close(std::exchange(fd_, -1)) == 0; }

 private:
  int fd_;
};

}  // namespace talvo::platform

#endif  // TALVO_PLATFORM_OWNED_FD_H_
