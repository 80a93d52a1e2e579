// The event log: entries go to syslog under a fixed ident, or to standard
// error when the program runs in the foreground.
//
// EventLog opens the log on first use. syslog has one ident per process: the
// program uses one ident throughout.
//
// Thread safety: report() may be called from the service thread and the
// control thread at once; syslog and single write(2) calls are atomic
// enough for whole lines.

#ifndef TALVO_PLATFORM_EVENT_LOG_H_
#define TALVO_PLATFORM_EVENT_LOG_H_

#include <string>
#include <string_view>

namespace talvo::platform {

enum class EventType { kInformation, kWarning, kError };

class EventLog {
 public:
  // `ident` is the syslog ident (copied; kept alive for the process, as
  // openlog requires).
  explicit EventLog(std::string ident);
  ~EventLog();
  EventLog(const EventLog&) = delete;
  EventLog& operator=(const EventLog&) = delete;

  // When on, entries go to standard error as "<ident>: <text>" instead of
  // syslog.
  void setToStandardError(bool on) { to_stderr_ = on; }
  bool toStandardError() const { return to_stderr_; }

  // Writes one entry. Trailing carriage returns and line feeds of `text`
  // are dropped. Information maps to LOG_INFO, warning to LOG_WARNING,
  // error to LOG_ERR.
  void report(EventType type, std::string_view text);

 private:
  std::string ident_;
  bool open_ = false;
  bool to_stderr_ = false;
};

// Writes `text` as an error line to standard error (prefixed "<ident>: ")
// and to syslog under `ident`; used where the program would show a message
// box. Does not end the process.
void reportErrorToUser(const std::string& ident, std::string_view text);

}  // namespace talvo::platform

#endif  // TALVO_PLATFORM_EVENT_LOG_H_
