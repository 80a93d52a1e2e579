// What the transport needs from the rest of the process: the diagnostics
// level, the trace stream, the configuration values it reads, and the pause
// between connect attempts.
//
// TransportContext::process() is the process-wide one (the run-time
// configuration, the trace stream, the environment); tests hand the
// transport their own to record trace lines and shorten the pauses.
//
// Thread safety: as the objects it reaches; the event loop's thread alone
// uses it.

#ifndef TALVO_RUNTIME_TRANSPORT_TRANSPORT_CONTEXT_H_
#define TALVO_RUNTIME_TRANSPORT_TRANSPORT_CONTEXT_H_

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace talvo {

class TransportContext {
 public:
  virtual ~TransportContext() = default;

  // The diagnostics level (0 silent, 1 normal, 2 a line per request).
  virtual int diagnosticsLevel() = 0;
  // Writes one trace line: the trace-line prefix first when `prefixed`,
  // then `text`, then a line end.
  virtual void trace(std::string_view text, bool prefixed) = 0;
  // The value of QV_CONNECT_ATTEMPTS, or nullopt when unset.
  virtual std::optional<std::string> connectAttempts() = 0;
  // The value of the process environment variable QV_MAX_MESSAGE_SIZE (read
  // directly, not through the configuration chain), or nullopt.
  virtual std::optional<std::string> maxMessageSize() = 0;
  // How long the loop waits (on a timer, never blocking) between two
  // connect attempts.
  virtual std::chrono::milliseconds retryPause() {
    return std::chrono::seconds(2);
  }

  // The process-wide context. Lives for the process.
  static TransportContext& process();
};

}  // namespace talvo

#endif  // TALVO_RUNTIME_TRANSPORT_TRANSPORT_CONTEXT_H_
