// A readable account of the configuration: every variable with the value a
// process would load and where that value comes from. Used by
// `talvoctl config`.
//
// Thread safety: none beyond that of the chain it reads.

#ifndef TALVO_RUNTIME_CONFIG_CONFIG_REPORT_H_
#define TALVO_RUNTIME_CONFIG_CONFIG_REPORT_H_

#include <optional>
#include <string>
#include <vector>

#include "runtime/config/runtime_config.h"

namespace talvo {

class ConfigChain;

struct ConfigReportRow {
  ConfigVar var;
  std::string name;                  // "QV_ERRORS", ...
  std::optional<std::string> value;  // after the marker rule; none: unset
  // "environment", "configuration file", "registry", "default" or "unset".
  std::string source;
};

// One row per variable in load order, looked up afresh in `chain`.
// QV_SERVER_NAME's default is the loading process's id, which says nothing
// about other processes: its row then has the value "(process id)".
std::vector<ConfigReportRow> describeConfiguration(const ConfigChain& chain);

// "environment", "configuration file" or "registry" for the handler names
// of config_chain.h; any other name unchanged.
std::string sourceLabel(const std::string& handler_name);

}  // namespace talvo

#endif  // TALVO_RUNTIME_CONFIG_CONFIG_REPORT_H_
