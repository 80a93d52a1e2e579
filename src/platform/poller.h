// Poller: a set of descriptors waited on together (epoll), each with the
// events asked for (the poll(2) bits of socket.h's WaitEntry).
//
// Level-triggered: a descriptor that is ready and not handled is reported
// again by the next wait, as poll(2) would. The cost of a wait grows with
// the number of ready descriptors, not with the number watched. A
// descriptor closed while in the set leaves it by itself; setting one that
// the set has lost (closed, its number reused) adds it again.
//
// Thread safety: one thread owns a Poller.

#ifndef TALVO_PLATFORM_POLLER_H_
#define TALVO_PLATFORM_POLLER_H_

#include <vector>

#include "platform/socket.h"

namespace talvo::platform {

class Poller {
 public:
  Poller();
  ~Poller();
  Poller(const Poller&) = delete;
  Poller& operator=(const Poller&) = delete;

  // 0, or the WinSock code of why the set could not be made.
  int status() const { return status_; }

  // Makes the set wait for `events` on `fd`; `was` is what it waited for
  // before (0: not in the set). Events 0 take `fd` out of the set. 0 or the
  // WinSock code of the failure.
  int set(int fd, short events, short was);

  // Waits up to `timeout_ms` (negative: no limit) until some descriptor is
  // ready; `ready` gets at most `max` of them, with the events that
  // happened in `revents`. Interruptions restart the wait with the time
  // that is left. 0 or the WinSock code of the failure.
  int wait(std::vector<WaitEntry>& ready, std::size_t max, int timeout_ms);

 private:
  int fd_ = -1;
  int status_ = 0;
};

}  // namespace talvo::platform

#endif  // TALVO_PLATFORM_POLLER_H_
