// The daemon's own settings: the values of the settings key
// "SOFTWARE\Brevan Technologies\Talvo\2.3c\Daemon", read as strings
// (a missing value reads as empty) and turned into the values the start-up
// uses.
//
// Thread safety: plain values and pure functions.

#ifndef TALVO_DAEMON_DAEMON_SETTINGS_H_
#define TALVO_DAEMON_DAEMON_SETTINGS_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace talvo::daemon {

inline constexpr char kDaemonKey[] =
    "SOFTWARE\\Brevan Technologies\\Talvo\\2.3c\\Daemon";
inline constexpr char kDefaultLogFile[] = "/var/log/talvo/daemon.log";
inline constexpr char kDefaultInteropFile[] = "/var/lib/talvo/daemon.ior";

// The values of one settings key by lower-case name; nullopt when the key
// cannot be opened.
using SettingsValues = std::optional<std::map<std::string, std::string>>;

struct DaemonSettings {
  bool log = false;
  std::string log_file;  // kDefaultLogFile when `log` is on and none given
  std::int32_t reap_time = 20;
  std::int32_t trace_level = 1;
  bool ups = false;  // accept unregistered persistent servers
  bool protected_mode = false;
  bool interop = false;
  std::string interop_file;  // kDefaultInteropFile when `interop` is on
  bool checkpoint = false;
  std::string checkpoint_file;  // as given, possibly empty
  // From Priority: the longest a wait may last when the loop must look
  // for a stop or ended children itself (see DaemonHost).
  std::uint32_t delay_ms = 500;
  // LocatorWait: how long, in milliseconds, a lookUp passed on to another
  // daemon waits for its answer (a value below 1 keeps the default).
  std::int32_t locator_wait_ms = 5000;
  // LaunchAs: "owner" runs each launched server as the local account that
  // owns its record (for a daemon running as root); anything else, the
  // default "daemon", runs them as the daemon's own user.
  bool launch_as_owner = false;
};

// The value `name` (lower case) of `values`, empty when missing.
std::string settingValue(const SettingsValues& values, const char* name);

// A flag is on only when its value is exactly "yes".
bool isYes(const std::string& value);

// The integer of `text` read like atoi (leadingInteger, the one reader of
// such numbers): leading blanks and a sign, then digits; the rest ignored;
// saturating at the 32-bit limits.
std::int32_t atoiValue(std::string_view text);

// The delay of a Priority: 0 gives 500 ms, 1 gives 300, 2 gives 100, 3
// gives 0, any other number 300.
std::uint32_t priorityDelay(std::int32_t priority);

// The files a program uses when `Log` or `Interop` is on and names none.
struct DefaultFiles {
  std::string log_file = kDefaultLogFile;
  std::string interop_file = kDefaultInteropFile;
};

// The settings from the values of the key (every default when the key
// could not be opened).
DaemonSettings parseDaemonSettings(const SettingsValues& values,
                                   const DefaultFiles& defaults = {});

// Opens the settings key and reads it.
SettingsValues readDaemonKey();

}  // namespace talvo::daemon

#endif  // TALVO_DAEMON_DAEMON_SETTINGS_H_
