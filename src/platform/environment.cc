// Environment access through the C library.
#include "platform/environment.h"

#include <cstdlib>

namespace talvo::platform {

namespace {

bool validName(const std::string& name) {
  return !name.empty() && name.find('=') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

}  // namespace

std::optional<std::string> getEnv(const std::string& name) {
  if (!validName(name)) return std::nullopt;
  const char* value = std::getenv(name.c_str());
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

bool setEnv(const std::string& name, const std::string& value) {
  if (!validName(name)) return false;
  return ::setenv(name.c_str(), value.c_str(), 1) == 0;
}

bool unsetEnv(const std::string& name) {
  if (!validName(name)) return false;
  return ::unsetenv(name.c_str()) == 0;
}

}  // namespace talvo::platform
