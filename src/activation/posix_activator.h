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

class PosixActivator : public Activator {
 public:
  using Activator::Activator;

  Status launchServer(const LaunchRequest& request) override;
  Status terminateServer(const std::string& server, const std::string& marker,
                         const OptionalText& principal) override;
  LaunchRecord* isServerAlive(const std::string& server,
                              const std::string& marker,
                              const OptionalText& principal) override;
};

}  // namespace talvo

#endif  // TALVO_ACTIVATION_POSIX_ACTIVATOR_H_
