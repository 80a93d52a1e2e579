// What the activator needs from the rest of the daemon, as interfaces the
// daemon supplies: the broker run time (open channels, pings, configuration)
// and the checkpoint file.
//
// Thread safety: called only from the daemon's event-loop thread.

#ifndef TALVO_ACTIVATION_ACTIVATOR_HOOKS_H_
#define TALVO_ACTIVATION_ACTIVATOR_HOOKS_H_

#include <cstdint>
#include <optional>
#include <string>

#include "activation/launch_table.h"
#include "runtime/except/exception.h"

namespace talvo {

// The broker run time as the activator sees it.
class ActivationRuntime {
 public:
  virtual ~ActivationRuntime() = default;

  // This host's name as the run time qualifies it.
  virtual std::string localHostName() = 0;
  // The process id that the run time's open channel to the server `server`
  // with marker `marker` on host `host` reported in its binding message;
  // absent when there is no such channel.
  virtual std::optional<std::int32_t> channelProcessId(
      const std::string& server, const std::string& marker,
      const std::string& host) = 0;
  // Whether process `pid` of this host holds the other end of the run
  // time's open channel to the server `server` (any marker) on host `host`.
  // Asked of the system, not taken from what the server reported about
  // itself: false when there is no such channel or no proof.
  virtual bool channelHeldBy(const std::string& server, const std::string& host,
                             std::int32_t pid) = 0;
  // Sends "_QV_PING" (no arguments, no result) to the object named by host,
  // server and marker (interface "CORBA::Object", interface repository
  // server "IR" on no host). Null on success, else the exception the
  // request ended in (owned by the caller).
  virtual Status pingObject(const std::string& host, const std::string& server,
                            const std::string& marker) = 0;
  // The run time's value of QV_IIOP_PORT; absent when unset.
  virtual std::optional<std::string> iiopPort() = 0;
};

// The checkpoint file's view of the launch table. Each call comes after the
// table has changed. The default does nothing and reports itself disabled.
class ActivationCheckpoint {
 public:
  virtual ~ActivationCheckpoint() = default;

  virtual bool enabled() const { return false; }
  // A record was made or overwritten; the values as they now stand in it.
  virtual void registered(const std::string& /*server*/,
                          const std::string& /*marker*/, std::int32_t /*pid*/,
                          std::uint32_t /*osSpecificSize*/,
                          const std::string& /*comms*/,
                          const std::string& /*code*/,
                          const std::string& /*port*/, LaunchStatus /*status*/,
                          const std::optional<std::string>& /*principal*/) {}
  // The status of a record changed.
  virtual void updated(const std::string& /*server*/,
                       const std::string& /*marker*/,
                       const std::optional<std::string>& /*principal*/,
                       LaunchStatus /*status*/) {}
  // The entry of server, marker and principal is to be marked deleted,
  // whether or not a record was removed.
  virtual void deleted(const std::string& /*server*/,
                       const std::string& /*marker*/,
                       const std::optional<std::string>& /*principal*/) {}
};

}  // namespace talvo

#endif  // TALVO_ACTIVATION_ACTIVATOR_HOOKS_H_
