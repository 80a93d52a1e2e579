#include "daemon/daemon_limits.h"

#include <algorithm>
#include <charconv>

namespace talvo::daemon {
namespace {

// `value` of `name` when it reads as a whole number of at least 1.
void readLimit(const std::optional<std::map<std::string, std::string>>& values,
               const char* name, std::size_t& value) {
  if (!values) return;
  auto it = values->find(name);
  if (it == values->end()) return;
  const std::string& text = it->second;
  std::size_t parsed = 0;
  auto [end, ec] =
      std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (ec == std::errc() && end == text.data() + text.size() && parsed >= 1) {
    value = parsed;
  }
}

}  // namespace

DaemonLimits parseDaemonLimits(
    const std::optional<std::map<std::string, std::string>>& values) {
  DaemonLimits limits;
  readLimit(values, "maxbufferedbytes", limits.max_buffered_bytes);
  readLimit(values, "stalltimeout", limits.stall_timeout_ms);
  readLimit(values, "maxconnections", limits.max_connections);
  readLimit(values, "requestsperpass", limits.requests_per_pass);
  readLimit(values, "maxchildren", limits.max_children);
  return limits;
}

std::size_t connectionCap(const DaemonLimits& limits, std::size_t descriptors) {
  const std::size_t usable = descriptors > 2 * kReservedDescriptors
                                 ? descriptors - kReservedDescriptors
                                 : std::max<std::size_t>(descriptors / 2, 1);
  if (limits.max_connections == 0) return usable;
  return std::min(limits.max_connections, usable);
}

}  // namespace talvo::daemon
