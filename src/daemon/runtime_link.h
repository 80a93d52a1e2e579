// What the daemon's start-up asks of the broker run time beyond the daemon
// object: the start-up guard, the entry's preparation, the diagnostics
// level (which also decides what the closedown handler writes) and the
// start-up banner.
//
// Threads: the thread that starts the daemon (the closedown text is
// published safely for the signal handler by the platform layer).

#ifndef TALVO_DAEMON_RUNTIME_LINK_H_
#define TALVO_DAEMON_RUNTIME_LINK_H_

#include <cstdint>
#include <string>

namespace talvo {
class RuntimeConfig;
class TalvoStream;
}  // namespace talvo

namespace talvo::daemon {

// The run time's start-up guard: constructed first, destroyed last.
class RuntimeStartupGuard {
 public:
  RuntimeStartupGuard();
  ~RuntimeStartupGuard();
  RuntimeStartupGuard(const RuntimeStartupGuard&) = delete;
  RuntimeStartupGuard& operator=(const RuntimeStartupGuard&) = delete;
};

// Entry step: clears the configuration's flag byte, sets the broker
// option, and writes " setup debug streams " to the diagnostic stream
// (standard error).
void prepareRuntime(RuntimeConfig& config);

// Sets the diagnostics level and prepares the closedown text for it
// (nothing at level 0, the trace-line prefix for "talvod" otherwise).
void setDiagnosticsLevel(RuntimeConfig& config, std::uint16_t level);
// Prepares the closedown text for the current level.
void refreshClosedownText(RuntimeConfig& config);

// Writes the start-up banner: `title`, " v", "2.3c" and the run time's
// identification, as one trace line.
void writeBanner(TalvoStream& trace, const std::string& title);

// The broker object's setting set at start-up (opaque).
void setBrokerSetting(int value);

}  // namespace talvo::daemon

#endif  // TALVO_DAEMON_RUNTIME_LINK_H_
