#include "daemon/daemon_log.h"

#include "platform/log_file.h"
#include "platform/log_text.h"

namespace talvo::daemon {

DaemonLogFile::DaemonLogFile(const std::string& path)
    : file_(platform::openLogFile(path)) {}

void DaemonLogFile::write(std::string_view text) {
  if (!file_) return;
  std::fwrite(text.data(), 1, text.size(), file_.get());
  if (line_flush_) std::fflush(file_.get());
}

void DaemonLogFile::flush() {
  if (file_) std::fflush(file_.get());
}

void DaemonOutput::process(std::string_view message) {
  // One message, one line: a name or principal holding a line feed cannot
  // forge a line of its own.
  while (!message.empty() && message.back() == '\n') message.remove_suffix(1);
  std::string line = platform::escapeControlCharacters(message);
  line.push_back('\n');
  if (primary_ != nullptr) primary_->write(line);
  if (secondary_ != nullptr) secondary_->write(line);
}

}  // namespace talvo::daemon
