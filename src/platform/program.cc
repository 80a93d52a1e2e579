#include "platform/program.h"

#include <unistd.h>

#include <cstdio>
#include <vector>

namespace talvo::platform {

std::string programPath() {
  // readlink does not say how long the target is: grow until it fits.
  std::vector<char> buffer(256);
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buffer.size()) {
      return std::string(buffer.data(), static_cast<size_t>(n));
    }
    buffer.resize(buffer.size() * 2);
  }
}

void exitImmediately(int code) {
  std::fflush(nullptr);
  ::_exit(code);
}

}  // namespace talvo::platform
