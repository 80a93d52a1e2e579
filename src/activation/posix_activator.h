// PosixActivator: the activator's platform variant for Linux.
//
// Launches a server with posix_spawnp (the command split at blanks, no
// shell) into the daemon's environment with its ten launch variables, tests
// right after the start that the child still runs, tests liveness of
// launched processes (children are reaped as they end; a process taken over
// from an earlier daemon counts as running only while it still carries the
// launch environment of its server, so a reused process id is never taken
// for it, nor signalled) and of self-registered ones
// (through the run time's open channel), and ends processes with SIGTERM.
//
// Thread safety: none; see Activator.

#ifndef TALVO_ACTIVATION_POSIX_ACTIVATOR_H_
#define TALVO_ACTIVATION_POSIX_ACTIVATOR_H_

#include "activation/activator.h"

namespace talvo {

// Minor code of IMP_LIMIT when the cap on running children is reached.
inline constexpr std::uint32_t kMinorTooManyChildren = 10062;

class PosixActivator : public Activator {
 public:
  using Activator::Activator;

  // The most children of this daemon running at once (0: no cap); a launch
  // past it fails with IMP_LIMIT 10062, detail the server.
  void setChildLimit(std::size_t limit) { child_limit_ = limit; }

  Status launchServer(const LaunchRequest& request) override;
  Status terminateServer(const std::string& server, const std::string& marker,
                         const OptionalText& principal) override;
  LaunchRecord* isServerAlive(const std::string& server,
                              const std::string& marker,
                              const OptionalText& principal) override;

 private:
  std::size_t child_limit_ = 0;
};

}  // namespace talvo

#endif  // TALVO_ACTIVATION_POSIX_ACTIVATOR_H_
