// Facts about the running process and its host: the user name, the host
// name, the process id and the local time of day.
//
// Thread safety: all functions are safe to call from any thread.

#ifndef TALVO_PLATFORM_SYSTEM_INFO_H_
#define TALVO_PLATFORM_SYSTEM_INFO_H_

#include <cstdint>
#include <optional>
#include <string>

namespace talvo::platform {

// The longest user name reported; a longer one gives "unknown_user".
inline constexpr std::size_t kMaxUserName = 64;

// The name of the effective user id, or "unknown_user" when it has no
// entry or is longer than kMaxUserName characters.
std::string userName();

// The name of user id `uid` (at most kMaxUserName characters), or "#" and
// the id in decimal when it has no name that fits; no user name begins
// with "#", so a nameless user is never taken for a named one.
std::string userNameOf(std::uint32_t uid);

// True when the process runs with the effective user id 0.
bool isSuperUser();

// The host name (gethostname), or nullopt when it cannot be read.
std::optional<std::string> hostName();

// The id of this process.
unsigned long processId();

// Hours, minutes and seconds of the current local time.
struct TimeOfDay {
  int hours;
  int minutes;
  int seconds;
};
TimeOfDay localTimeOfDay();

}  // namespace talvo::platform

#endif  // TALVO_PLATFORM_SYSTEM_INFO_H_
