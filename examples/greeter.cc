#include "greeter.h"

#include <utility>

#include "runtime/config/runtime_config.h"
#include "runtime/protocol/value.h"

namespace talvo::examples {
namespace {

std::string orEmpty(const char* s) { return s != nullptr ? s : ""; }

}  // namespace

ServerIdentity identityFrom(RuntimeConfig& config, std::uint32_t pid) {
  ServerIdentity who;
  who.server_name = orEmpty(config.serverName());
  who.marker = orEmpty(config.serverMarker());
  who.pid = pid;
  return who;
}

std::string greetingFor(const ServerIdentity& who,
                        const std::string& object_marker,
                        const std::string& name) {
  return "Hello, " + (name.empty() ? std::string("stranger") : name) +
         "! This is server " + who.server_name + " (marker '" + object_marker +
         "', launch marker '" + who.marker + "', pid " +
         std::to_string(who.pid) + ").";
}

std::vector<std::string> launchEnvironment(RuntimeConfig& config) {
  // The variables a launch sets, in the order it sets them.
  static constexpr ConfigVar kLaunchVars[] = {
      ConfigVar::kServerComms,   ConfigVar::kServerPort,
      ConfigVar::kIiopPort,      ConfigVar::kServerCode,
      ConfigVar::kServerName,    ConfigVar::kServerMarker,
      ConfigVar::kMarkerPattern, ConfigVar::kServerMethod,
      ConfigVar::kActPolicy,     ConfigVar::kWellKnownPort,
  };
  std::vector<std::string> out;
  for (ConfigVar var : kLaunchVars) {
    out.push_back(std::string(configVarName(var)) + "=" +
                  orEmpty(config.value(var)));
  }
  return out;
}

std::shared_ptr<protocol::Interface> makeGreeter(
    ServerIdentity who, std::vector<std::string> environment) {
  auto greeter = std::make_shared<protocol::Interface>(kGreeterInterface);
  // The signatures are constants of this file: adding them cannot fail.
  greeter->addOperation(kGreetSignature, [who](protocol::Request& r) {
    r.result = protocol::Value::ofString(
        greetingFor(who, r.header.marker.value_or(""), r.arg(0).text()));
  });
  greeter->addOperation(kEnvironmentSignature,
                        [env = std::move(environment)](protocol::Request& r) {
                          r.result = protocol::Value::ofStrings(env);
                        });
  return greeter;
}

std::string describe(const CORBA::SystemException& e) {
  std::string text = e.bareName() + " minor " + std::to_string(e.minor());
  if (e.detail()) text += " (" + *e.detail() + ")";
  return text;
}

}  // namespace talvo::examples
