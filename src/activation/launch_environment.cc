// The launch environment: the ten QV_ variables a launched server reads.
//
// The texts are kept in the activator rather than put into the daemon's own
// environment: the child's environment is built from the daemon's with the
// ten variables replaced, which gives the child exactly the variables of its
// own launch without touching process-wide state.

#include <algorithm>
#include <string>

#include "activation/activator.h"
#include "runtime/config/trace_stream.h"

namespace talvo {
namespace {

std::optional<std::string_view> policyText(int policy) {
  switch (policy) {
    case 0:
      return "shared_m";
    case 1:
      return "unshared_m";
    case 2:
      return "permethod_m";
    default:
      return std::nullopt;
  }
}

// Whether a NAME=value text can stand in an environment at all.
bool acceptable(std::string_view name, std::string_view value) {
  return !name.empty() && name.find('=') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos &&
         value.find('\0') == std::string_view::npos;
}

}  // namespace

void Activator::clearLaunchEnvironment() { environment_.clear(); }

Status Activator::setLaunchVariable(
    std::string_view name, const std::optional<std::string_view>& value) {
  std::string_view v = value.value_or("");
  if (environment_.size() >= kLaunchEnvironmentCapacity ||
      !acceptable(name, v)) {
    return fail<CORBA::OBJ_ADAPTER>(10461, "QV_SERVER_COMMS",
                                    CORBA::COMPLETED_MAYBE);
  }
  std::string text(name);
  text.append("=").append(v);
  environment_.push_back(std::move(text));
  return nullptr;
}

Status Activator::setLaunchEnvironment(
    std::string_view comms, std::string_view port, std::string_view iiopPort,
    int wellKnownPort, std::string_view code, std::string_view server,
    std::string_view marker, std::string_view markerPattern,
    std::string_view method, int policy) {
  clearLaunchEnvironment();
  traceStream() << " setting IIOP port to " << iiopPort << endl;
  std::optional<std::string> wellKnown;
  if (wellKnownPort != 0) {
    wellKnown = std::to_string(wellKnownPort);
  } else {
    wellKnown = runtime().iiopPort();
  }
  const std::optional<std::string_view> values[] = {
      comms,
      port,
      iiopPort,
      code,
      server,
      marker,
      markerPattern,
      method,
      policyText(policy),
      wellKnown ? std::optional<std::string_view>(*wellKnown) : std::nullopt};
  static_assert(std::size(values) == std::size(kLaunchVariables));
  for (std::size_t i = 0; i < std::size(values); ++i) {
    if (Status error = setLaunchVariable(kLaunchVariables[i], values[i])) {
      return error;
    }
  }
  return nullptr;
}

std::vector<std::pair<std::string, OptionalText>>
Activator::launchEnvironmentChanges() const {
  std::vector<std::pair<std::string, OptionalText>> changes;
  for (const char* name : kLaunchVariables) {
    OptionalText value;
    std::string prefix = std::string(name) + "=";
    for (const std::string& text : environment_) {
      if (text.compare(0, prefix.size(), prefix) == 0 &&
          text.size() > prefix.size()) {
        value = text.substr(prefix.size());
      }
    }
    changes.emplace_back(name, std::move(value));
  }
  return changes;
}

}  // namespace talvo
