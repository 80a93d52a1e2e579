// The configuration report of `talvoctl config`.
#include "runtime/config/config_report.h"

#include "runtime/config/config_chain.h"

namespace talvo {

std::string sourceLabel(const std::string& handler_name) {
  if (handler_name == kEnvironmentHandler) return "environment";
  if (handler_name == kConfigFileHandler) return "configuration file";
  if (handler_name == kRegistryHandler) return "registry";
  return handler_name;
}

std::vector<ConfigReportRow> describeConfiguration(const ConfigChain& chain) {
  std::vector<ConfigReportRow> rows;
  for (int i = 0; i < static_cast<int>(ConfigVar::kCount); ++i) {
    const auto var = static_cast<ConfigVar>(i);
    ConfigReportRow row{var, configVarName(var), std::nullopt, "unset"};
    std::string handler;
    if (std::optional<std::string> found = chain.lookup(row.name, &handler)) {
      row.value = std::move(found);
      row.source = sourceLabel(handler);
    } else if (var == ConfigVar::kServerName) {
      row.value = "(process id)";
      row.source = "default";
    } else if (std::optional<std::string> def = configVarDefault(var)) {
      row.value = std::move(def);
      row.source = "default";
    }
    row.value = applyMarkerRule(var, std::move(row.value));
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace talvo
