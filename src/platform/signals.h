// Signals of the daemon process: the closedown handler for SIGINT and
// SIGTERM, and the control thread that turns SIGUSR1 and SIGHUP into
// service controls.
//
// The closedown handler does only async-signal-safe work: it writes a
// prepared text with write(2) and ends the process with _exit(0). The text
// is prepared by setClosedownText() on an ordinary thread and published
// with an atomic pointer, so the handler never sees a half-written text.
//
// ControlSignalThread blocks SIGUSR1 and SIGHUP in the thread that creates
// it (create it before any other thread, so that every later thread inherits
// the mask) and takes them with sigwait on its own thread, which sleeps
// until a control arrives.
//
// ChildEndWatch turns SIGCHLD into a readable descriptor (signalfd), so
// that an event loop learns of ended children without waking on a timer.

#ifndef TALVO_PLATFORM_SIGNALS_H_
#define TALVO_PLATFORM_SIGNALS_H_

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace talvo::platform {

// Service control codes delivered by ControlSignalThread.
inline constexpr int kControlStop = 1;    // SIGUSR1
inline constexpr int kControlUser = 128;  // SIGHUP

// Blocks SIGUSR1, SIGHUP and SIGCHLD in the calling thread, so that a
// control that arrives before the control thread runs waits for it instead
// of ending the process, and a child's end waits for ChildEndWatch. Call
// first thing in main, before any thread is created.
void blockControlSignals();

// Installs the closedown handler for SIGINT and SIGTERM. The handler writes
// the closedown text, if one is enabled, to standard output, then
// "\n<Closedown Handler, Tidying up after signal: N>\n", and ends the
// process with exit code 0.
void installClosedownHandler();

// Sets what the closedown handler writes ahead of its line. With `enabled`
// false the handler writes nothing. When `clock_at` is not negative, the
// eight characters of `prefix` at that offset are replaced, when the signal
// arrives, by the local time as "hh:mm:ss" (the UTC offset is taken now).
void setClosedownText(bool enabled, const std::string& prefix,
                      int clock_at = -1);

// Writes the closedown output for `signal_number` to `fd` exactly as the
// handler does, without ending the process (for tests).
void writeClosedownText(int fd, int signal_number);

class ControlSignalThread {
 public:
  // Blocks SIGUSR1 and SIGHUP in the calling thread and starts the thread,
  // which calls `handler` with kControlStop for SIGUSR1 and kControlUser for
  // SIGHUP, on its own thread, one call at a time.
  explicit ControlSignalThread(std::function<void(int control)> handler);
  // Stops and joins the thread. The signals stay blocked in the calling
  // thread.
  ~ControlSignalThread();
  ControlSignalThread(const ControlSignalThread&) = delete;
  ControlSignalThread& operator=(const ControlSignalThread&) = delete;

 private:
  void loop();

  std::function<void(int)> handler_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// SIGCHLD as a descriptor that is readable while a child's end has not been
// taken. SIGCHLD must be blocked in every thread (blockControlSignals());
// the constructor blocks it in the calling thread. Not thread-safe: one
// thread (the event loop's) uses it.
class ChildEndWatch {
 public:
  ChildEndWatch();
  ~ChildEndWatch();
  ChildEndWatch(const ChildEndWatch&) = delete;
  ChildEndWatch& operator=(const ChildEndWatch&) = delete;

  // The descriptor to watch for reading; -1 when none could be made.
  int descriptor() const { return fd_; }
  // Takes every pending notice without blocking. Reap after this, so that a
  // child ending meanwhile makes the descriptor readable again.
  void drain();

 private:
  int fd_ = -1;
};

// SIGINT and SIGTERM as a descriptor, for a program that ends in order on
// them (the window front end) instead of through the closedown handler.
// The constructor blocks both in the calling thread: make it before any
// other thread. Not thread-safe: one thread (the event loop's) uses it.
class StopSignalWatch {
 public:
  StopSignalWatch();
  ~StopSignalWatch();
  StopSignalWatch(const StopSignalWatch&) = delete;
  StopSignalWatch& operator=(const StopSignalWatch&) = delete;

  // The descriptor to watch for reading; -1 when none could be made.
  int descriptor() const { return fd_; }
  // The number of a signal taken without blocking, or 0 when none waits.
  int take();

 private:
  int fd_ = -1;
};

}  // namespace talvo::platform

#endif  // TALVO_PLATFORM_SIGNALS_H_
