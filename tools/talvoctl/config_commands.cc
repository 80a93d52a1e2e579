// `talvoctl config`: the configuration as the run time would load it.
#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "daemon_connection.h"
#include "platform/files.h"
#include "platform/settings_store.h"
#include "runtime/config/config_chain.h"
#include "runtime/config/config_report.h"
#include "runtime/config/runtime_config.h"

namespace talvo::talvoctl {

namespace {

constexpr char kDaemonKey[] =
    "SOFTWARE\\Brevan Technologies\\Talvo\\2.3c\\Daemon";

// Whether the daemon keeps a checkpoint file (settings Checkpoint and
// CheckPointFile of its key), so that a restart takes its servers over.
struct Checkpointing {
  bool on = false;
  std::string file;  // empty: none configured
};

Checkpointing checkpointing() {
  auto daemon =
      platform::SettingsKey::open(kDaemonKey, platform::settingsStorePath());
  auto setting = [&](const char* name) {
    return daemon ? daemon->value(name).value_or("") : std::string();
  };
  return {setting("Checkpoint") == "yes", setting("CheckPointFile")};
}

void printConfiguration(std::ostream& out) {
  const ConfigChain& chain = runtimeConfig().chain();
  std::vector<ConfigReportRow> rows = describeConfiguration(chain);

  std::vector<std::string> values;
  for (const ConfigReportRow& row : rows) {
    if (!row.value) {
      values.push_back("-");
    } else if (row.value->empty()) {
      values.push_back("\"\"");
    } else {
      values.push_back(*row.value);
    }
  }
  std::size_t name_width = 8, value_width = 5;  // the headings
  for (std::size_t i = 0; i < rows.size(); ++i) {
    name_width = std::max(name_width, rows[i].name.size());
    value_width = std::max(value_width, values[i].size());
  }
  auto line = [&](const std::string& a, const std::string& b,
                  const std::string& c) {
    out << a << std::string(name_width - a.size() + 2, ' ') << b
        << std::string(value_width - b.size() + 2, ' ') << c << '\n';
  };
  line("Variable", "Value", "Source");
  for (std::size_t i = 0; i < rows.size(); ++i) {
    line(rows[i].name, values[i], rows[i].source);
  }

  out << '\n';
  if (auto* file = dynamic_cast<const ConfigFileHandler*>(
          chain.handler(kConfigFileHandler))) {
    out << "Configuration file: " << file->path();
    if (!file->isActive()) {
      out << " (switched off by QV_USE_CONFIG_FILE)";
    } else if (!platform::isReadableFile(file->path())) {
      out << " (not readable)";
    }
    out << '\n';
  }
  const std::string registry = platform::settingsStorePath();
  out << "Registry file: " << registry;
  if (!platform::SettingsKey::open(kConfigurationKey, registry)) {
    out << " (no key " << kConfigurationKey << ")";
  }
  out << '\n';

  const Checkpointing cp = checkpointing();
  out << "Checkpointing: ";
  if (!cp.on) {
    out << "off";
  } else if (cp.file.empty()) {
    out << "on, but no CheckPointFile (the daemon will not start)";
  } else {
    out << "on, file " << cp.file;
  }
  out << '\n';
}

// The same as JSON: the variables (value null when unset), the files and
// checkpointing (file null when none is configured).
void printConfigurationJson() {
  const ConfigChain& chain = runtimeConfig().chain();
  nlohmann::json variables = nlohmann::json::array();
  for (const ConfigReportRow& row : describeConfiguration(chain)) {
    variables.push_back(
        {{"name", row.name},
         {"value", row.value ? nlohmann::json(*row.value) : nullptr},
         {"source", row.source}});
  }
  nlohmann::json out = {{"variables", variables},
                        {"registryFile", platform::settingsStorePath()}};
  if (auto* file = dynamic_cast<const ConfigFileHandler*>(
          chain.handler(kConfigFileHandler))) {
    out["configurationFile"] = {
        {"path", file->path()},
        {"active", file->isActive()},
        {"readable", platform::isReadableFile(file->path())}};
  }
  const Checkpointing cp = checkpointing();
  out["checkpoint"] = {{"enabled", cp.on},
                       {"file", cp.file.empty() ? nlohmann::json(nullptr)
                                                : nlohmann::json(cp.file)}};
  printJson(out);
}

}  // namespace

void addConfigCommands(CLI::App& app) {
  auto json = std::make_shared<bool>(false);
  CLI::App* config = app.add_subcommand(
      "config",
      "List every configuration variable with its value and where it comes "
      "from");
  config->add_flag("--json", *json, "Print JSON");
  config->callback([json] {
    if (*json) return printConfigurationJson();
    printConfiguration(std::cout);
  });
}

}  // namespace talvo::talvoctl
