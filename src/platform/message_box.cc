#include "platform/message_box.h"

#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <utility>

namespace talvo::platform {

namespace {

std::mutex& hookMutex() {
  static std::mutex mu;
  return mu;
}

MessageBoxHook& hook() {
  static MessageBoxHook h;
  return h;
}

// Writes all of `text` to standard error, retrying short writes.
void writeStderr(std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

void writeMessageBoxText(std::string_view title, std::string_view text) {
  writeStderr(title);
  writeStderr(": ");
  writeStderr(text);
  writeStderr("\n");
  ::syslog(LOG_ERR, "%.*s: %.*s", static_cast<int>(title.size()), title.data(),
           static_cast<int>(text.size()), text.data());
}

void showMessageBox(std::string_view title, std::string_view text) {
  MessageBoxHook current;
  {
    std::lock_guard lock(hookMutex());
    current = hook();
  }
  if (current) {
    current(title, text);
  } else {
    writeMessageBoxText(title, text);
  }
}

MessageBoxHook setMessageBoxHook(MessageBoxHook new_hook) {
  std::lock_guard lock(hookMutex());
  return std::exchange(hook(), std::move(new_hook));
}

}  // namespace talvo::platform
