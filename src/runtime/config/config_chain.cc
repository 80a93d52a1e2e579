// The lookup chain, its three handlers and the start-up assembly.
#include "runtime/config/config_chain.h"

#include <algorithm>
#include <string_view>

#include "platform/environment.h"
#include "platform/files.h"
#include "platform/settings_store.h"

namespace talvo {

namespace {

std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
    s.remove_prefix(1);
  }
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
    s.remove_suffix(1);
  }
  return s;
}

// The value of `name` in configuration-file text, or nullopt.
std::optional<std::string> findInConfigText(std::string_view text,
                                            std::string_view name) {
  while (!text.empty()) {
    std::size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = trimBlanks(line);
    if (line.empty() || line.front() == '#') continue;
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    if (trimBlanks(line.substr(0, eq)) != name) continue;
    std::string_view value = trimBlanks(line.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> EnvironmentConfigHandler::lookup(
    const std::string& name) {
  return platform::getEnv(name);
}

RegistryConfigHandler::RegistryConfigHandler(std::string key,
                                             std::string store_path)
    : key_(std::move(key)), store_path_(std::move(store_path)) {}

std::optional<std::string> RegistryConfigHandler::lookup(
    const std::string& name) {
  auto key = store_path_.empty()
                 ? platform::SettingsKey::open(key_)
                 : platform::SettingsKey::open(key_, store_path_);
  if (!key) return std::nullopt;
  return key->value(name);
}

ConfigFileHandler::ConfigFileHandler(std::string path)
    : path_(std::move(path)) {}

std::optional<std::string> ConfigFileHandler::lookup(const std::string& name) {
  if (name.empty()) return std::nullopt;
  std::optional<std::string> text = platform::readFile(path_);
  if (!text) return std::nullopt;
  return findInConfigText(*text, name);
}

ConfigChain::ConfigChain() = default;
ConfigChain::~ConfigChain() = default;

void ConfigChain::add(const std::string& name,
                      std::unique_ptr<ConfigHandler> handler) {
  for (Entry& e : entries_) {
    if (e.name == name) {
      e.handler = std::move(handler);
      return;
    }
  }
  entries_.push_back(Entry{name, std::move(handler)});
}

bool ConfigChain::GetValue(const std::string& name, std::string& value) const {
  std::optional<std::string> found = lookup(name);
  if (!found) return false;
  value = std::move(*found);
  return true;
}

std::optional<std::string> ConfigChain::lookup(const std::string& name,
                                               std::string* source) const {
  for (const Entry& e : entries_) {
    if (!e.handler || !e.handler->isActive()) continue;
    if (std::optional<std::string> v = e.handler->lookup(name)) {
      if (source) *source = e.name;
      return v;
    }
  }
  return std::nullopt;
}

bool ConfigChain::PlaceBefore(const std::string& first,
                              const std::string& second) {
  auto by_name = [](const std::string& n) {
    return [&n](const Entry& e) { return e.name == n; };
  };
  auto f = std::find_if(entries_.begin(), entries_.end(), by_name(first));
  auto s = std::find_if(entries_.begin(), entries_.end(), by_name(second));
  if (f == entries_.end() || s == entries_.end()) return false;
  if (f > s) std::rotate(s, f, f + 1);  // first moves to just before second
  return true;
}

bool ConfigChain::Deactivate(const std::string& name) {
  ConfigHandler* h = handler(name);
  if (!h) return false;
  h->Deactivate();
  return true;
}

bool ConfigChain::Activate(const std::string& name) {
  ConfigHandler* h = handler(name);
  if (!h) return false;
  h->Activate();
  return true;
}

ConfigHandler* ConfigChain::handler(const std::string& name) const {
  for (const Entry& e : entries_) {
    if (e.name == name) return e.handler.get();
  }
  return nullptr;
}

std::vector<std::string> ConfigChain::names() const {
  std::vector<std::string> out;
  for (const Entry& e : entries_) out.push_back(e.name);
  return out;
}

std::string configFilePath(const std::optional<std::string>& config_path) {
  // An empty value would name "/Talvo.cfg" at the root: treat it as none.
  if (!config_path || config_path->empty()) return kDefaultConfigFile;
  if (platform::isReadableFile(*config_path)) return *config_path;
  return *config_path + "/Talvo.cfg";
}

std::unique_ptr<ConfigChain> buildConfigChain() {
  auto chain = std::make_unique<ConfigChain>();
  chain->add(kEnvironmentHandler, std::make_unique<EnvironmentConfigHandler>());
  chain->add(kRegistryHandler,
             std::make_unique<RegistryConfigHandler>(kConfigurationKey));

  // Only the environment and the registry can answer at this point.
  std::string path = configFilePath(chain->lookup("QV_CONFIG_PATH"));
  chain->add(kConfigFileHandler, std::make_unique<ConfigFileHandler>(path));

  // The environment is always asked before the file; the registry comes
  // last of the three.
  chain->PlaceBefore(kEnvironmentHandler, kConfigFileHandler);
  chain->PlaceBefore(kConfigFileHandler, kRegistryHandler);

  std::string use_file;
  if (chain->GetValue("QV_USE_CONFIG_FILE", use_file) && use_file == "no") {
    chain->Deactivate(kConfigFileHandler);
  }
  return chain;
}

}  // namespace talvo
