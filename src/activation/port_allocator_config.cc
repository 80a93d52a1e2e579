// The daemon's port allocator, configured from the run time. Kept apart so
// that code using PortAllocator with its own values does not pull in the
// run-time configuration.

#include "activation/port_allocator.h"
#include "runtime/config/runtime_config.h"

namespace talvo {

std::unique_ptr<PortAllocator> PortAllocator::fromRuntimeConfig() {
  RuntimeConfig& config = runtimeConfig();
  return std::make_unique<PortAllocator>(
      config.daemonServerBase(), config.daemonServerRange(),
      []() -> std::optional<std::string> {
        RuntimeConfig& config = runtimeConfig();
        if (config.diagnosticsLevel() == 0) return std::nullopt;
        return config.tracePrefix("talvod");
      });
}

}  // namespace talvo
