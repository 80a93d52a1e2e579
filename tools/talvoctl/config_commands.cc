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

  // Whether the daemon keeps a checkpoint file (settings Checkpoint and
  // CheckPointFile of its key), so that a restart takes its servers over.
  auto daemon = platform::SettingsKey::open(kDaemonKey, registry);
  auto setting = [&](const char* name) {
    return daemon ? daemon->value(name).value_or("") : std::string();
  };
  const std::string file = setting("CheckPointFile");
  out << "Checkpointing: ";
  if (setting("Checkpoint") != "yes") {
    out << "off";
  } else if (file.empty()) {
    out << "on, but no CheckPointFile (the daemon will not start)";
  } else {
    out << "on, file " << file;
  }
  out << '\n';
}

// The same as JSON: the variables (value null when unset) and the files.
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
