// What the daemon program asks of the broker run time at start-up and
// shut-down: the start-up guard, the diagnostics level (which also decides
// what the closedown handler writes), trace lines and the banner, the
// server name and the opaque broker settings, and the message handlers of
// the trace dispatcher.
//
// Thread safety: service thread only (the closedown text is published
// safely for the signal handler by the platform layer).

#ifndef TALVO_DAEMON_RUNTIME_LINK_H_
#define TALVO_DAEMON_RUNTIME_LINK_H_

#include <cstdint>
#include <memory>
#include <string>

#include "runtime/config/trace_stream.h"

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
void prepareRuntime();

// The diagnostics level; setting it also prepares the closedown text
// (nothing at level 0, the trace-line prefix for "talvod" otherwise).
std::uint16_t diagnosticsLevel();
void setDiagnosticsLevel(std::uint16_t level);
// Prepares the closedown text for the current level.
void refreshClosedownText();

// The trace-line prefix for `name`.
std::string tracePrefix(const char* name);

// Writes one line to the run time's trace stream.
void writeTraceLine(const std::string& text);

// Writes the start-up banner: `title`, " v", "2.3c" and the run time's
// identification, as one trace line.
void writeBanner(const std::string& title);

// The broker object's setting set at start-up (opaque), and the server
// name.
void setBrokerSetting(int value);
void setServerName(const char* name);

// Registers `handler` on the trace dispatcher under `name`, active.
// Returns the handler (owned by the dispatcher).
MessageHandler* addTraceHandler(const std::string& name,
                                std::unique_ptr<MessageHandler> handler);
// Removes and destroys the handler of that name, if any.
void removeTraceHandler(const std::string& name);

}  // namespace talvo::daemon

#endif  // TALVO_DAEMON_RUNTIME_LINK_H_
