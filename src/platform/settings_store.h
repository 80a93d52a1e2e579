// The settings store: the text file that stands for the local machine's
// registry.
//
// The file (path from the environment variable QV_REGISTRY, default
// "/etc/talvo/registry") holds sections, one per key, each a line
// "[key path]" followed by "Name=value" lines; lines starting with '#' or
// ';' are comments, and lines that are none of these are skipped. Key and
// value names compare without regard to (ASCII) case. A value is the text
// after the first "=" up to the end of the line, as it stands, with a final
// carriage return dropped.
//
// A key is read afresh from the file each time it is opened; an opened
// SettingsKey is a snapshot. A write rewrites the whole file atomically
// (platform/files.h), keeping every other line as it was.
//
// Thread safety: SettingsKey objects are values; distinct objects may be
// used from distinct threads. Two processes writing the file at once may
// lose one of the writes (the last rename wins); the file is never torn.

#ifndef TALVO_PLATFORM_SETTINGS_STORE_H_
#define TALVO_PLATFORM_SETTINGS_STORE_H_

#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace talvo::platform {

// The path of the settings file: QV_REGISTRY, or "/etc/talvo/registry".
std::string settingsStorePath();

class SettingsKey {
 public:
  // Opens the key `key` in the file at `path`. nullopt ("the key cannot be
  // opened") when the file is missing, unreadable or empty, or holds no
  // section of that name.
  static std::optional<SettingsKey> open(const std::string& key,
                                         const std::string& path);
  // The same in the file at settingsStorePath().
  static std::optional<SettingsKey> open(const std::string& key);

  // The value called `name` (first one when the file repeats it), or
  // nullopt.
  std::optional<std::string> value(std::string_view name) const;
  // Every value of the key, in file order.
  const std::vector<std::pair<std::string, std::string>>& values() const {
    return values_;
  }
  // The key path as the file spells it.
  const std::string& name() const { return name_; }

 private:
  SettingsKey() = default;
  std::string name_;
  std::vector<std::pair<std::string, std::string>> values_;
};

// Sets the value `name` of key `key` in the file at `path` to `value`,
// creating the file and the key's section when absent; every other line
// stays as it was. The file is read afresh and rewritten atomically.
// Refused with std::errc::invalid_argument when the key or name is empty or
// either of the three texts would break the line format (a line end, "]" in
// the key, "=" in the name, a name starting with '[', '#' or ';').
std::error_code setSettingsValue(const std::string& key,
                                 const std::string& name,
                                 const std::string& value,
                                 const std::string& path);
std::error_code setSettingsValue(const std::string& key,
                                 const std::string& name,
                                 const std::string& value);

// True when `a` and `b` are equal without regard to ASCII case.
bool equalsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace talvo::platform

#endif  // TALVO_PLATFORM_SETTINGS_STORE_H_
