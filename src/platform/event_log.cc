#include "platform/event_log.h"

#include <syslog.h>
#include <unistd.h>

#include "platform/log_text.h"

namespace talvo::platform {
namespace {

std::string_view trimLineEnd(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

int priorityOf(EventType type) {
  switch (type) {
    case EventType::kInformation:
      return LOG_INFO;
    case EventType::kWarning:
      return LOG_WARNING;
    case EventType::kError:
      break;
  }
  return LOG_ERR;
}

// One write(2) per line so lines of concurrent writers do not interleave.
void writeLine(const std::string& ident, std::string_view text) {
  std::string line = ident + ": ";
  line.append(text);
  line.push_back('\n');
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n <= 0) return;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

// syslog keeps the ident pointer: the text lives here for the process.
void openSyslog(const std::string& ident) {
  static std::string* kept = nullptr;
  if (kept != nullptr && *kept == ident) return;
  static std::string storage;
  storage = ident;
  kept = &storage;
  ::openlog(storage.c_str(), LOG_PID, LOG_DAEMON);
}

}  // namespace

EventLog::EventLog(std::string ident) : ident_(std::move(ident)) {}

EventLog::~EventLog() = default;

void EventLog::report(EventType type, std::string_view raw) {
  // One entry, one line, whatever a name in it holds.
  const std::string escaped = escapeControlCharacters(trimLineEnd(raw));
  std::string_view text = escaped;
  if (to_stderr_) {
    writeLine(ident_, text);
    return;
  }
  if (!open_) {
    openSyslog(ident_);
    open_ = true;
  }
  ::syslog(priorityOf(type), "%.*s", static_cast<int>(text.size()),
           text.data());
}

void reportErrorToUser(const std::string& ident, std::string_view text) {
  text = trimLineEnd(text);
  writeLine(ident, text);
  openSyslog(ident);
  ::syslog(LOG_ERR, "%.*s", static_cast<int>(text.size()), text.data());
}

}  // namespace talvo::platform
