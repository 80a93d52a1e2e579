// The seam between the daemon host and the daemon itself: the daemon object
// that serves QV_daemon, the run time's event loop it is served on, and the
// checkpoint object are reached through these two interfaces, so that the
// host's start-up, passes and tear-down do not depend on how they are built
// (tests put a fake behind them).
//
// Every failure is a Status (null: success).
//
// makeDaemonCoreFactory() picks the implementation the programs run.
//
// Threads: every call is made on the loop's thread, except Waker::wake().

#ifndef TALVO_DAEMON_DAEMON_CORE_H_
#define TALVO_DAEMON_DAEMON_CORE_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "daemon/daemon_limits.h"
#include "runtime/except/exception.h"
#include "runtime/transport/event_loop.h"

namespace talvo {
class RuntimeConfig;
class TalvoStream;
}  // namespace talvo

namespace talvo::daemon {

// What the daemon object is constructed with.
struct DaemonOptions {
  bool unregistered_persistent_servers = false;  // UPS
  std::int32_t reap_time = 20;
  bool protected_mode = false;
  bool launch_as_owner = false;  // LaunchAs=owner, honoured as root only
  bool interop = false;
  std::optional<std::string> interop_file;  // none unless `interop`
  std::optional<std::string> other_name;    // always none in talvod
  std::int32_t locator_wait_ms = 5000;      // setting LocatorWait
  DaemonLimits limits;
};

// What the daemon works with instead of the process-wide objects: the run
// time's configuration and the trace stream. Not owned; both outlive the
// host.
struct DaemonContext {
  RuntimeConfig& config;
  TalvoStream& trace;
};

// Wakes a wait of the loop from any thread, or from a signal handler.
using Waker = LoopWaker;

// The daemon object together with the run time it serves requests with.
class DaemonCore {
 public:
  virtual ~DaemonCore() = default;

  // Declares the implementation QV_daemon ready without waiting.
  virtual Status implIsReady() = 0;

  // One pass of the loop: waits until something happens, or at most
  // `max_wait` when one is given (zero: only looks), and serves every
  // event that is ready. Nothing happening is not a failure; a failure of
  // the pass is the result (the loop goes on).
  virtual Status runOnce(std::optional<std::chrono::milliseconds> max_wait) = 0;

  // A waker whose wake() makes `on_wake` run on the loop's thread and ends
  // the current wait. Null when the loop cannot be woken: callers then bound
  // their waits.
  virtual std::shared_ptr<Waker> makeWaker(std::function<void()> on_wake) = 0;

  // Has the loop call `on_ready` (on its thread) whenever `descriptor` is
  // readable. False when the loop cannot watch it.
  virtual bool watchReadable(int descriptor,
                             std::function<void()> on_ready) = 0;

  // The daemon object's stringified interoperable reference ("IOR:...").
  virtual Status iorText(std::string& text) = 0;

  // The loop itself, for a front end that drives it from its own event
  // loop (null when there is none to drive).
  virtual EventLoop* loop() { return nullptr; }
};

// Makes the process-wide objects of the daemon's start-up. The host calls,
// in this order: createCheckpoint(); useCheckpointFile() when the settings
// turn checkpointing on; createDaemon().
class DaemonCoreFactory {
 public:
  virtual ~DaemonCoreFactory() = default;

  // Creates the checkpoint object (held by the factory for the process).
  virtual void createCheckpoint() = 0;

  // Gives the checkpoint object `path` and has it take up the file.
  virtual Status useCheckpointFile(const std::string& path) = 0;

  // Constructs the daemon object with the checkpoint object. On failure
  // `core` stays null.
  virtual Status createDaemon(const DaemonOptions& options,
                              std::unique_ptr<DaemonCore>& core) = 0;
};

// The factory of the programs: the Orb on `context`'s configuration serving
// the daemon object. It makes the port allocator at once (entry order).
std::unique_ptr<DaemonCoreFactory> makeDaemonCoreFactory(DaemonContext context);

}  // namespace talvo::daemon

#endif  // TALVO_DAEMON_DAEMON_CORE_H_
