// The configuration object: variable table, loading, lazy re-lookup,
// host-name qualification and the trace-line prefix.
#include "runtime/config/runtime_config.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "platform/system_info.h"
#include "runtime/config/config_chain.h"
#include "runtime/config/trace_stream.h"

namespace talvo {

namespace {

constexpr int kVarCount = static_cast<int>(ConfigVar::kCount);

// The platform index this build reports in requests (the platform tables of
// the protocol map it onto a name).
constexpr int kPlatformIndex = 11;

// A marker variable holding this text is stored as the empty string.
constexpr const char* kNullMarker = "QV_nullMarker";

struct VarInfo {
  const char* name;
  const char* default_value;  // null: none
  bool lazy;                  // accessor looks an empty value up again
};

// Indexed by ConfigVar.
constexpr VarInfo kVars[kVarCount] = {
    {"QV_ERRORS", nullptr, true},
    {"QV_CONNECT_ATTEMPTS", "10", true},
    {"QV_IMP_REP_PATH", nullptr, true},
    {"QV_LOCATOR_PATH", "/var/lib/talvo", true},
    {"QV_DAEMON_PORT", nullptr, true},
    {"QV_DAEMON_PROTOCOL", "POOP", true},
    {"QV_DAEMON_SERVER_BASE", nullptr, true},
    {"QV_DAEMON_SERVER_RANGE", "50", true},
    {"QV_IIOP_PORT", nullptr, false},
    {"QV_WELL_KNOWN_PORT", nullptr, false},
    {"QV_SERVER_MARKER", "*", false},
    {"QV_MARKER_PATTERN", "*", true},
    {"QV_SERVER_METHOD", nullptr, true},
    {"QV_ACT_POLICY", nullptr, false},
    {"QV_SERVER_NAME", nullptr, true},  // default: the process id
    {"QV_SERVER_COMMS", nullptr, true},
    {"QV_SERVER_PORT", nullptr, true},
    {"QV_SERVER_CODE", nullptr, true},
    {"QV_INT_REP_PATH", nullptr, false},
    {"QV_LOCAL_DOMAIN", nullptr, true},
    {"QV_DEFAULT_COMMS", "tcp", true},
    {"QV_DEFAULT_CODE", "xdr", true},
    {"QV_CONFIG_PATH", "/etc/talvo/Talvo.cfg", false},
    {"QV_USE_CONFIG_FILE", nullptr, false},
};

int index(ConfigVar var) { return static_cast<int>(var); }

bool validVar(ConfigVar var) {
  return index(var) >= 0 && index(var) < kVarCount;
}

bool isMarkerVar(ConfigVar var) {
  return var == ConfigVar::kServerMarker || var == ConfigVar::kMarkerPattern;
}

std::size_t componentCount(std::string_view name) {
  return 1 +
         static_cast<std::size_t>(std::count(name.begin(), name.end(), '.'));
}

}  // namespace

const char* configVarName(ConfigVar var) {
  return validVar(var) ? kVars[index(var)].name : "";
}

std::optional<std::string> configVarDefault(ConfigVar var) {
  if (!validVar(var) || kVars[index(var)].default_value == nullptr) {
    return std::nullopt;
  }
  return std::string(kVars[index(var)].default_value);
}

bool configVarIsLazy(ConfigVar var) {
  return validVar(var) && kVars[index(var)].lazy;
}

std::optional<std::string> applyMarkerRule(ConfigVar var,
                                           std::optional<std::string> value) {
  if (isMarkerVar(var) && value && *value == kNullMarker) value.emplace();
  return value;
}

RuntimeConfig::RuntimeConfig(ConfigChain& chain) : chain_(chain) { load(); }

RuntimeConfig::~RuntimeConfig() = default;

void RuntimeConfig::load() {
  if (loaded_) return;
  loaded_ = true;
  diagnostics_level_ = 1;
  user_name_ = platform::userName();
  platform_index_ = kPlatformIndex;

  for (int i = 0; i < kVarCount; ++i) {
    const auto var = static_cast<ConfigVar>(i);
    std::optional<std::string> found = chain_.lookup(kVars[i].name);
    if (!found) {
      found = var == ConfigVar::kServerName
                  ? std::optional(std::to_string(platform::processId()))
                  : configVarDefault(var);
    }
    values_[i] = applyMarkerRule(var, std::move(found));
  }

  std::string host = platform::hostName().value_or("unknown_host");
  host_name_ = qualifyHostName(host.c_str(), localDomain());
}

const char* RuntimeConfig::lazy(ConfigVar var) {
  std::optional<std::string>& slot = values_[index(var)];
  if (slot && !slot->empty()) return slot->c_str();
  // Empty or missing: ask the chain again; no default on this path. The
  // marker rule holds here as at load, so "QV_nullMarker" never leaks out.
  slot = applyMarkerRule(var, chain_.lookup(configVarName(var)));
  return slot ? slot->c_str() : nullptr;
}

const char* RuntimeConfig::value(ConfigVar var) {
  if (!validVar(var)) return nullptr;
  load();
  if (configVarIsLazy(var)) return lazy(var);
  const std::optional<std::string>& slot = values_[index(var)];
  return slot ? slot->c_str() : nullptr;
}

const char* RuntimeConfig::errors() { return value(ConfigVar::kErrors); }
const char* RuntimeConfig::connectAttempts() {
  return value(ConfigVar::kConnectAttempts);
}
const char* RuntimeConfig::impRepPath() {
  return value(ConfigVar::kImpRepPath);
}
const char* RuntimeConfig::locatorPath() {
  return value(ConfigVar::kLocatorPath);
}
const char* RuntimeConfig::daemonPort() {
  return value(ConfigVar::kDaemonPort);
}
const char* RuntimeConfig::daemonProtocol() {
  return value(ConfigVar::kDaemonProtocol);
}
const char* RuntimeConfig::daemonServerBase() {
  return value(ConfigVar::kDaemonServerBase);
}
const char* RuntimeConfig::daemonServerRange() {
  return value(ConfigVar::kDaemonServerRange);
}
const char* RuntimeConfig::iiopPort() { return value(ConfigVar::kIiopPort); }
const char* RuntimeConfig::wellKnownPort() {
  return value(ConfigVar::kWellKnownPort);
}
const char* RuntimeConfig::serverMarker() {
  return value(ConfigVar::kServerMarker);
}
const char* RuntimeConfig::markerPattern() {
  return value(ConfigVar::kMarkerPattern);
}
const char* RuntimeConfig::serverMethod() {
  return value(ConfigVar::kServerMethod);
}
const char* RuntimeConfig::actPolicy() { return value(ConfigVar::kActPolicy); }
const char* RuntimeConfig::serverName() {
  return value(ConfigVar::kServerName);
}
const char* RuntimeConfig::serverComms() {
  return value(ConfigVar::kServerComms);
}
const char* RuntimeConfig::serverPort() {
  return value(ConfigVar::kServerPort);
}
const char* RuntimeConfig::serverCode() {
  return value(ConfigVar::kServerCode);
}
const char* RuntimeConfig::intRepPath() {
  return value(ConfigVar::kIntRepPath);
}
const char* RuntimeConfig::localDomain() {
  return value(ConfigVar::kLocalDomain);
}
const char* RuntimeConfig::defaultComms() {
  return value(ConfigVar::kDefaultComms);
}
const char* RuntimeConfig::defaultCode() {
  return value(ConfigVar::kDefaultCode);
}

namespace {

std::optional<std::string> copyOf(const char* s) {
  return s ? std::optional<std::string>(s) : std::nullopt;
}

}  // namespace

void RuntimeConfig::setServerName(const char* name) {
  load();
  values_[index(ConfigVar::kServerName)] = copyOf(name);
  server_name_set_ = true;
}

void RuntimeConfig::setServerPort(const char* port) {
  load();
  values_[index(ConfigVar::kServerPort)] = copyOf(port);
}

void RuntimeConfig::setServerComms(const char* comms) {
  load();
  values_[index(ConfigVar::kServerComms)] = copyOf(comms);
}

void RuntimeConfig::setServerCode(const char* code) {
  load();
  values_[index(ConfigVar::kServerCode)] = copyOf(code);
}

bool RuntimeConfig::getAndSetServerNameSet(bool value) {
  bool old = server_name_set_;
  server_name_set_ = value;
  return old;
}

std::string RuntimeConfig::tracePrefix(const char* name) {
  std::string shown;
  if (name != nullptr && *name != '\0') {
    shown = name;
  } else {
    const char* server = serverName();
    if (server == nullptr || *server == '\0') {
      shown = "Talvo";
    } else if (std::string_view(server) == "QV_daemon") {
      shown = "talvod";
    } else {
      shown = server;
    }
  }
  // Built by appending: GCC 12 warns falsely (-Wrestrict) on the
  // operator+ chain in optimised builds.
  std::string prefix = "[";
  if (diagnostics_level_ == 1) {
    prefix.append(shown).append(": ");
    return prefix;
  }
  platform::TimeOfDay t = platform::localTimeOfDay();
  char clock[32];
  std::snprintf(clock, sizeof clock, "%02d:%02d:%02d ", t.hours, t.minutes,
                t.seconds);
  prefix.append(clock).append("--- ").append(shown).append("@");
  prefix.append(host_name_).append(" ");
  return prefix;
}

void RuntimeConfig::writePrefix(TalvoStream& stream, const char* name) {
  stream << tracePrefix(name);
}

std::string qualifyHostName(const char* host, const char* local_domain) {
  if (host == nullptr) return "UNKNOWN_HOST_NAME";
  std::string_view h(host);
  std::string_view d(local_domain ? local_domain : "");
  if (d.empty()) return std::string(h);

  const std::size_t n = componentCount(h);
  if (n == 1) return std::string(h) + "." + std::string(d);

  if (n <= componentCount(d)) {
    std::string_view rest = h.substr(h.find('.') + 1);
    const bool leading_run = rest == d || (d.size() > rest.size() &&
                                           d.substr(0, rest.size()) == rest &&
                                           d[rest.size()] == '.');
    if (leading_run) {
      // D's components from the n-th on: skip its first n-1 components.
      std::string_view tail = d;
      for (std::size_t i = 1; i < n; ++i) {
        std::size_t dot = tail.find('.');
        if (dot == std::string_view::npos) return std::string(h);
        tail.remove_prefix(dot + 1);
      }
      return std::string(h) + "." + std::string(tail);
    }
  }
  return std::string(h);
}

namespace {

// The process-wide chain and configuration, built once by runtimeStartup().
struct Runtime {
  std::unique_ptr<ConfigChain> chain;
  std::unique_ptr<RuntimeConfig> config;
};

Runtime& runtime() {
  static Runtime r;
  return r;
}

}  // namespace

void runtimeStartup() {
  static bool started = false;
  if (started) return;
  started = true;
  Runtime& r = runtime();
  r.chain = buildConfigChain();
  traceStream();  // the dispatcher with "QV_StdOut" and the stream (level 1)
  r.config = std::make_unique<RuntimeConfig>(*r.chain);
}

RuntimeConfig& runtimeConfig() {
  runtimeStartup();
  return *runtime().config;
}

}  // namespace talvo
