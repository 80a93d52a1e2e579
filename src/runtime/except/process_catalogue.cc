// The process-wide catalogue and its one tie to the run-time configuration.
#include "runtime/config/runtime_config.h"
#include "runtime/except/catalogue.h"

namespace talvo {

namespace {

// The errors file named by QV_ERRORS, looked up afresh at every load
// attempt so that a value set after start-up is seen.
std::optional<std::string> configuredErrorsPath() {
  const char* path = runtimeConfig().errors();
  if (path == nullptr) return std::nullopt;
  return std::string(path);
}

}  // namespace

ErrorCatalogue& processCatalogue() {
  static ErrorCatalogue catalogue{
      ErrorCatalogue::PathSource(configuredErrorsPath)};
  return catalogue;
}

}  // namespace talvo
