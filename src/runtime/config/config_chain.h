// The configuration lookup chain.
//
// A ConfigChain holds named lookup handlers in a chain; GetValue asks each
// active handler in chain order and takes the first answer. Three handlers
// exist: "QV_Environment" (the process environment), "QV_ConfigFile" (the
// configuration file Talvo.cfg) and "QV_Registry" (the registry key
// "SOFTWARE\Brevan Technologies\Talvo\2.3c\Configuration" of the settings
// store). buildConfigChain() assembles them in the order the run time uses:
// environment, configuration file, registry.
//
// Every handler reads its source afresh on each lookup, so a value added
// after start-up is seen by the next lookup.
//
// Thread safety: none; the chain is built and used during single-threaded
// start-up and afterwards only by the thread that owns the run time.

#ifndef TALVO_RUNTIME_CONFIG_CONFIG_CHAIN_H_
#define TALVO_RUNTIME_CONFIG_CONFIG_CHAIN_H_

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talvo {

// The registry key of the configuration variables.
inline constexpr const char* kConfigurationKey =
    "SOFTWARE\\Brevan Technologies\\Talvo\\2.3c\\Configuration";
// The configuration file used when QV_CONFIG_PATH has no value.
inline constexpr const char* kDefaultConfigFile = "/etc/talvo/Talvo.cfg";

// Handler names.
inline constexpr const char* kEnvironmentHandler = "QV_Environment";
inline constexpr const char* kConfigFileHandler = "QV_ConfigFile";
inline constexpr const char* kRegistryHandler = "QV_Registry";

// One source of configuration values.
class ConfigHandler {
 public:
  virtual ~ConfigHandler() = default;
  // The value of `name` in this handler's source, or nullopt.
  virtual std::optional<std::string> lookup(const std::string& name) = 0;

  // Takes the handler out of the lookups while it stays registered, and
  // puts it back.
  void Deactivate() { active_ = false; }
  void Activate() { active_ = true; }
  bool isActive() const { return active_; }

 private:
  bool active_ = true;
};

// Answers from the process environment (a variable set to the empty text
// counts as unset).
class EnvironmentConfigHandler : public ConfigHandler {
 public:
  std::optional<std::string> lookup(const std::string& name) override;
};

// Answers from the values of one key of the settings store. The store path
// is fixed at construction (empty: settingsStorePath() at each lookup).
class RegistryConfigHandler : public ConfigHandler {
 public:
  explicit RegistryConfigHandler(std::string key, std::string store_path = {});
  std::optional<std::string> lookup(const std::string& name) override;

 private:
  std::string key_;
  std::string store_path_;
};

// Answers from a configuration file: one "NAME=value" per line, blanks
// around "=" ignored, the value optionally in double quotes, empty lines and
// lines starting with "#" ignored, other lines without "=" skipped. Names
// compare exactly; the first line of a name counts. A file that cannot be
// read answers nothing.
class ConfigFileHandler : public ConfigHandler {
 public:
  explicit ConfigFileHandler(std::string path);
  std::optional<std::string> lookup(const std::string& name) override;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class ConfigChain {
 public:
  ConfigChain();
  ~ConfigChain();
  ConfigChain(const ConfigChain&) = delete;
  ConfigChain& operator=(const ConfigChain&) = delete;

  // Registers `handler` under `name` (owned by the chain) at the end of the
  // chain. Replaces a handler of the same name, in its place.
  void add(const std::string& name, std::unique_ptr<ConfigHandler> handler);

  // True, with `value` filled, when some active handler knows `name`.
  bool GetValue(const std::string& name, std::string& value) const;
  // The same, also naming the handler that answered in `*source`.
  std::optional<std::string> lookup(const std::string& name,
                                    std::string* source = nullptr) const;

  // Moves handler `first` to just before handler `second` when it stands
  // after it, so that `first` is asked first. False when either is unknown.
  bool PlaceBefore(const std::string& first, const std::string& second);
  // Deactivate/Activate of the named handler; false when unknown.
  bool Deactivate(const std::string& name);
  bool Activate(const std::string& name);

  // The handler of that name, or null (owned by the chain).
  ConfigHandler* handler(const std::string& name) const;
  // Handler names in chain order.
  std::vector<std::string> names() const;

 private:
  struct Entry {
    std::string name;
    std::unique_ptr<ConfigHandler> handler;
  };
  std::vector<Entry> entries_;
};

// The configuration-file path for a QV_CONFIG_PATH value: none (or an
// empty one) gives
// kDefaultConfigFile; a readable file that is not a directory is used as it
// is; anything else is taken as a directory and "/Talvo.cfg" appended.
std::string configFilePath(const std::optional<std::string>& config_path);

// Builds the run time's chain: environment and registry, then the file
// named by QV_CONFIG_PATH (looked up in those two), ordered environment,
// configuration file, registry; the file handler is deactivated when
// QV_USE_CONFIG_FILE is exactly "no". The registry handler reads the
// settings store at settingsStorePath().
std::unique_ptr<ConfigChain> buildConfigChain();

}  // namespace talvo

#endif  // TALVO_RUNTIME_CONFIG_CONFIG_CHAIN_H_
