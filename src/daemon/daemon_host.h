// DaemonHost: the daemon inside a program. One host serves both front ends
// (the service wrapper of talvod, and a window that drives the loop from
// its own event loop):
//
//   start()        log, settings, checkpoint object, banner, daemon object,
//                  ready, diagnostics level;
//   runOnce()      one pass: wait for events and serve them, then the
//                  housekeeping (ended children reaped, trace written out);
//   afterEvents()  the housekeeping alone, for a front end that drove the
//                  loop itself (through DaemonCore::loop());
//   requestStop()  from any thread: an event on the loop, so that a waiting
//                  pass ends at once;
//   shutdown()     the interoperable-reference file, then the daemon object
//                  and the log are deleted.
//
// The loop waits for events and serves them as they come, at every
// Priority. The wait is unbounded when the loop can be woken and learns of
// ended children through a descriptor; otherwise the Priority's delay (100
// ms at Priority 3) bounds it, so that a stop and the reaping are seen.
//
// Threads: everything runs on the thread that called start(), except
// requestStop() and stopRequested().

#ifndef TALVO_DAEMON_DAEMON_HOST_H_
#define TALVO_DAEMON_DAEMON_HOST_H_

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "daemon/daemon_core.h"
#include "daemon/daemon_log.h"
#include "daemon/daemon_settings.h"
#include "platform/signals.h"

namespace talvo::daemon {

// The bound of a wait at Priority 3, whose delay is 0, when the loop must
// be bounded at all.
inline constexpr std::chrono::milliseconds kShortestWait{100};

// A start-up failure: what the front end shows before it ends the process
// with exit code 1. An empty `message` means that `status` is printed on
// standard output instead.
struct StartupFailure {
  std::string message;
  Status status;
};

class DaemonHost {
 public:
  // `factory` makes the checkpoint and daemon objects (not owned; must
  // outlive the host).
  DaemonHost(DaemonContext context, DaemonCoreFactory& factory);
  // Deletes the daemon object and the log (without the interop file).
  ~DaemonHost();
  DaemonHost(const DaemonHost&) = delete;
  DaemonHost& operator=(const DaemonHost&) = delete;

  // Before start(): a front end that shows the daemon's output (the
  // window's pane) makes it the primary output of DaemonOutput, with the
  // log file, when `Log` is on, as the secondary one. Not owned; must
  // outlive the host's start-up to shutdown().
  void setPrimaryOutput(OutputTarget* output) { primary_output_ = output; }
  // Before start(): the files used when `Log` or `Interop` names none.
  void setDefaultFiles(DefaultFiles files) {
    default_files_ = std::move(files);
  }

  std::optional<StartupFailure> start();

  // One pass, waiting at most `max_wait` (none: as long as the loop
  // allows). A failure of the pass is printed on standard output and the
  // host goes on.
  void runOnce(std::optional<std::chrono::milliseconds> max_wait = {});
  // The housekeeping after a batch of events; `failure`, when set, is what
  // escaped the batch and is printed on standard output first.
  void afterEvents(Status failure = nullptr);

  // Thread-safe. The service's stop: the next or current wait ends.
  void requestStop();
  bool stopRequested() const { return stop_requested_.load(); }

  // Writes the interoperable-reference file when the settings ask for it
  // and deletes the daemon object and the log. The message-box text when
  // the file cannot be written.
  std::optional<std::string> shutdown();

  // The longest a wait may last, or none when nothing bounds it.
  std::optional<std::chrono::milliseconds> waitBound() const;

  const DaemonSettings& settings() const { return settings_; }
  DaemonCore* core() { return core_.get(); }
  // After start(): warnings for the event log about how the daemon runs
  // (root without protection, LaunchAs that cannot be honoured).
  const std::vector<std::string>& startupNotices() const {
    return startup_notices_;
  }

 private:
  void setUpLog();
  void removeLog();
  void watchLoop();

  DaemonContext context_;
  DaemonCoreFactory& factory_;
  DaemonSettings settings_;
  OutputTarget* primary_output_ = nullptr;
  DefaultFiles default_files_;
  std::unique_ptr<DaemonLogFile> log_file_;
  bool output_active_ = false;  // DaemonOutput is on the trace dispatcher
  std::unique_ptr<DaemonCore> core_;
  std::atomic<bool> stop_requested_{false};
  std::mutex waker_mutex_;  // guards waker_ against requestStop()
  std::shared_ptr<Waker> waker_;
  std::unique_ptr<platform::ChildEndWatch> child_ends_;
  bool children_watched_ = false;
  bool stdout_muted_ = false;  // "QV_StdOut" taken out at trace level 0
  std::vector<std::string> startup_notices_;
};

// Shows `text` as a message box with caption "Talvo Daemon" and ends the
// process with exit code 1 (standard output is flushed first).
[[noreturn]] void fatalMessageBox(const std::string& text);
// Ends the process for a start-up failure: the message box, or the status
// printed on standard output; exit code 1.
[[noreturn]] void endStartup(const StartupFailure& failure);

}  // namespace talvo::daemon

#endif  // TALVO_DAEMON_DAEMON_HOST_H_
