// The limits of what clients may make the daemon hold: settings of the
// Daemon key, each with a safe default, read at start-up.
//
//   MaxBufferedBytes  bytes held for all connections together (partial
//                     requests and queued replies); past it the largest
//                     holders are not read until it falls again
//   StallTimeout      milliseconds a connection may stop inside a request
//                     before it is closed
//   MaxConnections    connections open at once; past it the one idle for
//                     longest is closed (never a registered server's);
//                     default: the descriptor limit less a reserve
//   RequestsPerPass   requests served per connection per pass of the loop
//   MaxChildren       launched servers running at once (IMP_LIMIT past it)
//
// A value that is not a number of at least 1 keeps the default.
//
// Thread safety: plain values and pure functions.

#ifndef TALVO_DAEMON_DAEMON_LIMITS_H_
#define TALVO_DAEMON_DAEMON_LIMITS_H_

#include <cstddef>
#include <map>
#include <optional>
#include <string>

namespace talvo::daemon {

struct DaemonLimits {
  std::size_t max_buffered_bytes = 32u << 20;
  std::size_t stall_timeout_ms = 30000;
  std::size_t max_connections = 0;  // 0: from the descriptor limit
  std::size_t requests_per_pass = 4;
  std::size_t max_children = 256;
};

// Descriptors kept back from the connection cap for files, children's
// pipes and the daemon's own outgoing connections.
inline constexpr std::size_t kReservedDescriptors = 64;

// The limits from the Daemon key's values (by lower-case name).
DaemonLimits parseDaemonLimits(
    const std::optional<std::map<std::string, std::string>>& values);

// The connection cap for `limits` in a process that may hold
// `descriptors` open.
std::size_t connectionCap(const DaemonLimits& limits, std::size_t descriptors);

}  // namespace talvo::daemon

#endif  // TALVO_DAEMON_DAEMON_LIMITS_H_
