#include "daemon/daemon_settings.h"

#include <cctype>

#include "activation/launch_table.h"
#include "platform/settings_store.h"

namespace talvo::daemon {

std::string settingValue(const SettingsValues& values, const char* name) {
  if (!values) return {};
  auto it = values->find(name);
  return it == values->end() ? std::string() : it->second;
}

bool isYes(const std::string& value) { return value == "yes"; }

std::int32_t atoiValue(std::string_view text) { return leadingInteger(text); }

std::uint32_t priorityDelay(std::int32_t priority) {
  switch (priority) {
    case 0:
      return 500;
    case 1:
      return 300;
    case 2:
      return 100;
    case 3:
      return 0;
    default:
      return 300;
  }
}

DaemonSettings parseDaemonSettings(const SettingsValues& values,
                                   const DefaultFiles& defaults) {
  DaemonSettings s;
  s.log = isYes(settingValue(values, "log"));
  s.log_file = settingValue(values, "logfile");
  if (s.log && s.log_file.empty()) s.log_file = defaults.log_file;

  std::string reap = settingValue(values, "reaptime");
  if (!reap.empty()) s.reap_time = atoiValue(reap);
  std::string trace = settingValue(values, "tracelevel");
  if (!trace.empty()) s.trace_level = atoiValue(trace);

  s.ups = isYes(settingValue(values, "ups"));
  s.protected_mode = isYes(settingValue(values, "protected"));
  s.interop = isYes(settingValue(values, "interop"));
  if (s.interop) {
    s.interop_file = settingValue(values, "interopfile");
    if (s.interop_file.empty()) s.interop_file = defaults.interop_file;
  }
  s.checkpoint = isYes(settingValue(values, "checkpoint"));
  s.checkpoint_file = settingValue(values, "checkpointfile");
  const std::int32_t wait = atoiValue(settingValue(values, "locatorwait"));
  if (wait > 0) s.locator_wait_ms = wait;
  s.launch_as_owner = settingValue(values, "launchas") == "owner";
  s.delay_ms = priorityDelay(atoiValue(settingValue(values, "priority")));
  return s;
}

SettingsValues readDaemonKey() {
  std::optional<platform::SettingsKey> key =
      platform::SettingsKey::open(kDaemonKey);
  if (!key) return std::nullopt;
  std::map<std::string, std::string> values;
  for (const auto& [name, value] : key->values()) {
    std::string lower;
    for (char c : name) {
      lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    // The first of a repeated name counts, as a lookup would find it.
    values.emplace(std::move(lower), value);
  }
  return values;
}

}  // namespace talvo::daemon
