// This process's binding message, from its run-time configuration. Kept in
// its own file so that users of the message functions that never build one
// do not need the configuration layer's code.

#include "runtime/config/runtime_config.h"
#include "runtime/protocol/message.h"

namespace talvo::protocol {
namespace {

Value::Str copy(const char* s) {
  return s != nullptr ? Value::Str(s) : std::nullopt;
}

}  // namespace

BindingMessage localBinding(RuntimeConfig& config, std::uint32_t pid,
                            bool optimise, std::uint32_t message_id) {
  BindingMessage m;
  m.message_id = message_id;
  m.probe = optimise ? kProbeValue : 0.0;
  m.server_name = copy(config.serverName());
  m.user_name = config.userName();
  m.marker_pattern = copy(config.markerPattern());
  m.host_name = config.hostName();
  m.server_method = copy(config.serverMethod());
  m.pid = pid;
  m.platform = kPlatformIndex;
  return m;
}

}  // namespace talvo::protocol
