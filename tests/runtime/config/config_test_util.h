// Helpers shared by the configuration tests: a clean environment for the
// configuration variables and a handler answering from a map.
#ifndef TALVO_TESTS_RUNTIME_CONFIG_CONFIG_TEST_UTIL_H_
#define TALVO_TESTS_RUNTIME_CONFIG_CONFIG_TEST_UTIL_H_

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../../platform/settings/temp_dir.h"
#include "runtime/config/config_chain.h"
#include "runtime/config/runtime_config.h"

namespace talvo::testing {

// Unsets every configuration variable and QV_REGISTRY for its lifetime.
class CleanConfigEnv {
 public:
  CleanConfigEnv() {
    for (int i = 0; i < static_cast<int>(ConfigVar::kCount); ++i) {
      vars_.push_back(std::make_unique<ScopedEnv>(
          configVarName(static_cast<ConfigVar>(i)), std::nullopt));
    }
    vars_.push_back(std::make_unique<ScopedEnv>("QV_REGISTRY", std::nullopt));
  }

 private:
  std::vector<std::unique_ptr<ScopedEnv>> vars_;
};

// Answers from a map the test may change at any time.
class MapHandler : public ConfigHandler {
 public:
  explicit MapHandler(std::map<std::string, std::string>* values)
      : values_(values) {}
  std::optional<std::string> lookup(const std::string& name) override {
    auto it = values_->find(name);
    if (it == values_->end()) return std::nullopt;
    return it->second;
  }

 private:
  std::map<std::string, std::string>* values_;
};

}  // namespace talvo::testing

#endif  // TALVO_TESTS_RUNTIME_CONFIG_CONFIG_TEST_UTIL_H_
