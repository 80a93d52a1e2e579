// The seam between the daemon program and the daemon itself: the daemon
// object that serves QV_daemon, the run time's event loop and the
// checkpoint object are reached through these two interfaces, so that the
// program's start-up, main loop and tear-down do not depend on how they
// are built.
//
// makeDaemonCoreFactory() picks the implementation the program runs.
//
// Threads: every call is made on the service thread.

#ifndef TALVO_DAEMON_DAEMON_CORE_H_
#define TALVO_DAEMON_DAEMON_CORE_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "runtime/except/exception.h"

namespace talvo::daemon {

// What the daemon object is constructed with.
struct DaemonOptions {
  bool unregistered_persistent_servers = false;  // UPS
  std::int32_t reap_time = 20;
  bool protected_mode = false;
  bool interop = false;
  std::optional<std::string> interop_file;  // none unless `interop`
  std::optional<std::string> other_name;    // always none in talvod
};

// The daemon object together with the run time it serves requests with.
class DaemonCore {
 public:
  virtual ~DaemonCore() = default;

  // Declares the implementation QV_daemon ready without waiting. A failure
  // is left in `env`.
  virtual void implIsReady(CORBA::Environment& env) = 0;

  // Waits at most `max_wait` (zero: only tests) for an event on any
  // channel: a connection, a message or a closed connection. True when one
  // is pending.
  virtual bool eventPending(std::chrono::milliseconds max_wait) = 0;

  // Processes exactly one pending event without waiting. A failure is left
  // in `env`.
  virtual void processEvent(CORBA::Environment& env) = 0;

  // The daemon object's stringified interoperable reference ("IOR:...").
  // A failure is left in `env`.
  virtual std::string iorText(CORBA::Environment& env) = 0;
};

// Makes the process-wide objects of the daemon's start-up.
class DaemonCoreFactory {
 public:
  virtual ~DaemonCoreFactory() = default;

  // Creates the checkpoint object (held by the factory for the process).
  virtual void createCheckpoint() = 0;

  // Gives the checkpoint object `path` and has it take up the file. A
  // failure is left in `env`.
  virtual void useCheckpointFile(const std::string& path,
                                 CORBA::Environment& env) = 0;

  // Constructs the daemon object with the checkpoint object. Failure is
  // reported through `env` (the result may then be null).
  virtual std::unique_ptr<DaemonCore> createDaemon(const DaemonOptions& options,
                                                   CORBA::Environment& env) = 0;
};

// The factory of the program.
std::unique_ptr<DaemonCoreFactory> makeDaemonCoreFactory();

// The process-wide pointer to the daemon object, beside the service's own
// (null when there is none).
DaemonCore* theDaemon();
void setTheDaemon(DaemonCore* core);

}  // namespace talvo::daemon

#endif  // TALVO_DAEMON_DAEMON_CORE_H_
