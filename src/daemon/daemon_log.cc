#include "daemon/daemon_log.h"

namespace talvo::daemon {

// "e": the log is not handed on to launched servers.
DaemonLogFile::DaemonLogFile(const std::string& path)
    : file_(std::fopen(path.c_str(), "we")) {}

void DaemonLogFile::write(std::string_view text) {
  if (!file_) return;
  std::fwrite(text.data(), 1, text.size(), file_.get());
  if (line_flush_) std::fflush(file_.get());
}

void DaemonLogFile::flush() {
  if (file_) std::fflush(file_.get());
}

void DaemonOutput::process(std::string_view message) {
  std::string line(message);
  line.push_back('\n');
  if (primary_ != nullptr) primary_->write(line);
  if (secondary_ != nullptr) secondary_->write(line);
}

}  // namespace talvo::daemon
