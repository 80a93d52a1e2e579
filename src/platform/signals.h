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
// the mask) and takes them with sigtimedwait on its own thread.

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

// Blocks SIGUSR1 and SIGHUP in the calling thread, so that a control that
// arrives before the control thread runs waits for it instead of ending
// the process. Call first thing in main, before any thread is created.
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
  // Stops and joins the thread (within about 100 ms). The signals stay
  // blocked in the calling thread.
  ~ControlSignalThread();
  ControlSignalThread(const ControlSignalThread&) = delete;
  ControlSignalThread& operator=(const ControlSignalThread&) = delete;

 private:
  void loop();

  std::function<void(int)> handler_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace talvo::platform

#endif  // TALVO_PLATFORM_SIGNALS_H_
