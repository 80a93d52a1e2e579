// RuntimeConfig: the process's configuration object.
//
// Holds the value of every configuration variable (looked up once through
// the lookup chain of config_chain.h, with the defaults of the variable
// table), the user name, the qualified host name, the diagnostics level and
// the trace-line prefix. Strings handed out stay owned by the object; a
// setter replaces the stored copy. Accessors of the variables listed as
// "lazy" look an empty or missing value up again on each call.
//
// runtimeConfig() is the process-wide object; runtimeStartup() builds the
// chain and the object once (the start-up guard). Tests may construct their
// own RuntimeConfig over their own chain.
//
// Thread safety: none; loading happens during single-threaded start-up.

#ifndef TALVO_RUNTIME_CONFIG_RUNTIME_CONFIG_H_
#define TALVO_RUNTIME_CONFIG_RUNTIME_CONFIG_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace talvo {

class ConfigChain;
class TalvoStream;

// The configuration variables, in load order (QV_CONFIG_PATH and
// QV_USE_CONFIG_FILE are looked up while the chain is built and come last).
enum class ConfigVar : int {
  kErrors,             // QV_ERRORS
  kConnectAttempts,    // QV_CONNECT_ATTEMPTS
  kImpRepPath,         // QV_IMP_REP_PATH
  kLocatorPath,        // QV_LOCATOR_PATH
  kDaemonPort,         // QV_DAEMON_PORT
  kDaemonProtocol,     // QV_DAEMON_PROTOCOL
  kDaemonServerBase,   // QV_DAEMON_SERVER_BASE
  kDaemonServerRange,  // QV_DAEMON_SERVER_RANGE
  kIiopPort,           // QV_IIOP_PORT
  kWellKnownPort,      // QV_WELL_KNOWN_PORT
  kServerMarker,       // QV_SERVER_MARKER
  kMarkerPattern,      // QV_MARKER_PATTERN
  kServerMethod,       // QV_SERVER_METHOD
  kActPolicy,          // QV_ACT_POLICY
  kServerName,         // QV_SERVER_NAME
  kServerComms,        // QV_SERVER_COMMS
  kServerPort,         // QV_SERVER_PORT
  kServerCode,         // QV_SERVER_CODE
  kIntRepPath,         // QV_INT_REP_PATH
  kLocalDomain,        // QV_LOCAL_DOMAIN
  kDefaultComms,       // QV_DEFAULT_COMMS
  kDefaultCode,        // QV_DEFAULT_CODE
  kConfigPath,         // QV_CONFIG_PATH
  kUseConfigFile,      // QV_USE_CONFIG_FILE
  kCount
};

// "QV_ERRORS", ... for each variable.
const char* configVarName(ConfigVar var);
// The table's default ("none" is nullopt; QV_SERVER_NAME's default, the
// process id, is computed at load and reported as nullopt here).
std::optional<std::string> configVarDefault(ConfigVar var);
// True for the variables whose accessor looks an empty or missing value up
// again on each call.
bool configVarIsLazy(ConfigVar var);
// The marker rule: for QV_SERVER_MARKER and QV_MARKER_PATTERN a value equal
// to "QV_nullMarker" becomes the empty string; other values pass unchanged.
std::optional<std::string> applyMarkerRule(ConfigVar var,
                                           std::optional<std::string> value);

class RuntimeConfig {
 public:
  // Loads at once through `chain` (not owned; must outlive the object).
  explicit RuntimeConfig(ConfigChain& chain);
  ~RuntimeConfig();
  RuntimeConfig(const RuntimeConfig&) = delete;
  RuntimeConfig& operator=(const RuntimeConfig&) = delete;

  // One accessor per variable: the cached value or null.
  const char* errors();
  const char* connectAttempts();
  const char* impRepPath();
  const char* locatorPath();
  const char* daemonPort();
  const char* daemonProtocol();
  const char* daemonServerBase();
  const char* daemonServerRange();
  const char* iiopPort();
  const char* wellKnownPort();
  const char* serverMarker();
  const char* markerPattern();
  const char* serverMethod();
  const char* actPolicy();
  const char* serverName();
  const char* serverComms();
  const char* serverPort();
  const char* serverCode();
  const char* intRepPath();
  const char* localDomain();
  const char* defaultComms();
  const char* defaultCode();
  // Generic form of the accessors above (same lazy rule per variable).
  const char* value(ConfigVar var);

  // Setters store a private copy; null stores null. Setting the server name
  // also sets the server-name-set flag.
  void setServerName(const char* name);
  void setServerPort(const char* port);
  void setServerComms(const char* comms);
  void setServerCode(const char* code);
  // Returns the server-name-set flag and replaces it with `value`.
  bool getAndSetServerNameSet(bool value);

  const std::string& userName() const { return user_name_; }
  const std::string& hostName() const { return host_name_; }  // qualified
  int platformIndex() const { return platform_index_; }

  std::uint16_t diagnosticsLevel() const { return diagnostics_level_; }
  void setDiagnosticsLevel(std::uint16_t level) { diagnostics_level_ = level; }
  std::uint8_t flagByte() const { return flag_byte_; }
  void setFlagByte(std::uint8_t v) { flag_byte_ = v; }
  std::uint16_t iiopValue() const { return iiop_value_; }
  void setIiopValue(std::uint16_t v) { iiop_value_ = v; }

  // The trace-line prefix for `name` (null or empty: the server name,
  // "QV_daemon" shown as "talvod", none as "Talvo"): "[name: " at level 1,
  // "[hh:mm:ss --- name@host " at any other level.
  std::string tracePrefix(const char* name = nullptr);
  // Writes tracePrefix(name) to `stream`.
  void writePrefix(TalvoStream& stream, const char* name = nullptr);

  // The chain this object looks values up in.
  ConfigChain& chain() { return chain_; }

 private:
  void load();
  const char* lazy(ConfigVar var);

  ConfigChain& chain_;
  std::array<std::optional<std::string>, static_cast<int>(ConfigVar::kCount)>
      values_;
  std::string user_name_;
  std::string host_name_;
  int platform_index_ = 0;
  std::uint16_t diagnostics_level_ = 1;
  std::uint8_t flag_byte_ = 0;
  std::uint16_t iiop_value_ = 0;
  bool server_name_set_ = false;
  bool loaded_ = false;
};

// Host-name qualification with `local_domain` (may be null): null host gives
// "UNKNOWN_HOST_NAME".
std::string qualifyHostName(const char* host, const char* local_domain);

// The start-up guard: the first call builds the lookup chain and the
// process-wide RuntimeConfig; later calls return at once.
void runtimeStartup();
// The process-wide object (runs runtimeStartup() first).
RuntimeConfig& runtimeConfig();

}  // namespace talvo

#endif  // TALVO_RUNTIME_CONFIG_RUNTIME_CONFIG_H_
