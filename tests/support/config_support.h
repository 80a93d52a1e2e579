// Configuration for tests: a handler answering from a map, a RuntimeConfig
// over a chain that knows only such a map, and a clean environment for the
// configuration variables. Header only; a test using it links
// talvo_config.
//
// Threading: none; the environment is process-wide (see ScopedEnv).

#ifndef TALVO_TESTS_SUPPORT_CONFIG_SUPPORT_H_
#define TALVO_TESTS_SUPPORT_CONFIG_SUPPORT_H_

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "runtime/config/config_chain.h"
#include "runtime/config/runtime_config.h"
#include "support/scoped_env.h"

namespace talvo::testing {

// Answers from a map; with a pointer, from a map the test may change at
// any time.
class MapConfigHandler : public ConfigHandler {
 public:
  explicit MapConfigHandler(std::map<std::string, std::string> values = {})
      : owned_(std::move(values)), values_(&owned_) {}
  explicit MapConfigHandler(std::map<std::string, std::string>* values)
      : values_(values) {}
  std::optional<std::string> lookup(const std::string& name) override {
    auto it = values_->find(name);
    if (it == values_->end()) return std::nullopt;
    return it->second;
  }

 private:
  std::map<std::string, std::string> owned_;
  std::map<std::string, std::string>* values_;
};

// A RuntimeConfig over a chain that knows only `values`.
class TestConfig {
 public:
  explicit TestConfig(std::map<std::string, std::string> values = {}) {
    chain_.add("test", std::make_unique<MapConfigHandler>(std::move(values)));
    config_ = std::make_unique<RuntimeConfig>(chain_);
  }
  RuntimeConfig& get() { return *config_; }
  ConfigChain& chain() { return chain_; }

 private:
  ConfigChain chain_;
  std::unique_ptr<RuntimeConfig> config_;
};

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

}  // namespace talvo::testing

#endif  // TALVO_TESTS_SUPPORT_CONFIG_SUPPORT_H_
