// Stand-in for the configuration object while its implementation is not in
// the tree: QV_ERRORS from the environment.
#include <cstdlib>

#include "runtime/config/runtime_config.h"

namespace talvo {

class ConfigChain {};

RuntimeConfig::RuntimeConfig(ConfigChain& chain) : chain_(chain) {}
RuntimeConfig::~RuntimeConfig() = default;

const char* RuntimeConfig::errors() {
  const char* value = std::getenv("QV_ERRORS");
  return value != nullptr && *value != '\0' ? value : nullptr;
}

RuntimeConfig& runtimeConfig() {
  static ConfigChain chain;
  static RuntimeConfig config(chain);
  return config;
}

}  // namespace talvo
