// The binding service's options from the process's run-time configuration.
// Kept apart so that code giving its own options does not pull it in.

#include "activation/launch_table.h"
#include "binding/binding_service.h"
#include "runtime/config/runtime_config.h"

namespace talvo {

BindingOptions BindingOptions::fromRuntimeConfig(bool ups) {
  RuntimeConfig& config = runtimeConfig();
  BindingOptions options;
  options.ups = ups;
  options.daemonPort =
      static_cast<std::uint16_t>(leadingInteger(config.daemonPort()));
  options.daemonUser = config.userName();
  const char* code = config.defaultCode();
  const char* comms = config.defaultComms();
  options.defaultCode = code ? code : "";
  options.defaultComms = comms ? comms : "";
  options.tracePrefix = []() -> std::optional<std::string> {
    RuntimeConfig& config = runtimeConfig();
    if (config.diagnosticsLevel() == 0) return std::nullopt;
    return config.tracePrefix("talvod");
  };
  return options;
}

}  // namespace talvo
