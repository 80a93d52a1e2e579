// WakeSignal: a counter descriptor (eventfd) that one thread, or a signal
// handler, raises and an event loop waits on.
//
// raise() is async-signal-safe (one write(2), errno preserved) and may be
// called from any thread; the descriptor becomes readable until drain()
// resets it. Several raises before a drain read as one.
//
// Thread safety: raise() from anywhere; open(), fd() and drain() on the
// thread that owns the signal.

#ifndef TALVO_PLATFORM_WAKE_SIGNAL_H_
#define TALVO_PLATFORM_WAKE_SIGNAL_H_

namespace talvo::platform {

class WakeSignal {
 public:
  WakeSignal() = default;
  ~WakeSignal();
  WakeSignal(const WakeSignal&) = delete;
  WakeSignal& operator=(const WakeSignal&) = delete;

  // Creates the descriptor (non-blocking, close-on-exec). 0 or the WinSock
  // code of the failure.
  int open();
  // The descriptor to wait on for reading, -1 before open().
  int fd() const { return fd_; }
  // Makes the descriptor readable.
  void raise() const;
  // Makes it unreadable again.
  void drain() const;

 private:
  int fd_ = -1;
};

}  // namespace talvo::platform

#endif  // TALVO_PLATFORM_WAKE_SIGNAL_H_
