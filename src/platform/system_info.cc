// User, host, process and clock queries through POSIX.
#include "platform/system_info.h"

#include <limits.h>
#include <pwd.h>
#include <unistd.h>

#include <ctime>
#include <vector>

namespace talvo::platform {

namespace {

// The passwd entry's name of `uid`; empty when it has none.
std::string passwdName(uid_t uid) {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(size > 0 ? static_cast<std::size_t>(size) : 16384);
  struct passwd pw;
  struct passwd* found = nullptr;
  for (;;) {
    int rc = ::getpwuid_r(uid, &pw, buf.data(), buf.size(), &found);
    if (rc == ERANGE && buf.size() < (1u << 20)) {
      buf.resize(buf.size() * 2);
      continue;
    }
    break;
  }
  if (found == nullptr || found->pw_name == nullptr) return {};
  std::string name(found->pw_name);
  if (name.size() > kMaxUserName) return {};
  return name;
}

}  // namespace

std::string userName() {
  std::string name = passwdName(::geteuid());
  return name.empty() ? "unknown_user" : name;
}

std::string userNameOf(std::uint32_t uid) {
  std::string name = passwdName(static_cast<uid_t>(uid));
  return name.empty() ? "#" + std::to_string(uid) : name;
}

bool isSuperUser() { return ::geteuid() == 0; }

std::optional<std::string> hostName() {
  // HOST_NAME_MAX is 64 on Linux; one more for the terminating NUL, which
  // gethostname leaves out when the name fills the buffer.
  std::vector<char> buf(HOST_NAME_MAX + 2, '\0');
  if (::gethostname(buf.data(), buf.size() - 1) != 0) return std::nullopt;
  std::string name(buf.data());
  if (name.empty()) return std::nullopt;
  return name;
}

unsigned long processId() { return static_cast<unsigned long>(::getpid()); }

TimeOfDay localTimeOfDay() {
  std::time_t now = std::time(nullptr);
  struct tm parts {};
  if (::localtime_r(&now, &parts) == nullptr) return {0, 0, 0};
  return {parts.tm_hour, parts.tm_min, parts.tm_sec};
}

}  // namespace talvo::platform
