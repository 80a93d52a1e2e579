#include "activation/port_allocator.h"

#include "activation/launch_table.h"
#include "platform/port_probe.h"
#include "runtime/config/trace_stream.h"

namespace talvo {

PortAllocator::PortAllocator(const char* base, const char* range,
                             TracePrefix tracePrefix)
    : tracePrefix_(std::move(tracePrefix)) {
  if (base != nullptr && *base != '\0') {
    hasBase_ = true;
    base_ = leadingInteger(base);
  }
  if (range != nullptr && *range != '\0') range_ = leadingInteger(range);
  last_ = base_;
}

bool PortAllocator::isPortFree(std::uint16_t port) {
  return platform::isPortFree(port);
}

int PortAllocator::allocatePort(Status& error) {
  if (!hasBase_) {
    traceNoPort("[   QV_DAEMON_SERVER_BASE is not set ]");
    error = fail<CORBA::IMP_LIMIT>(10061);
    return -1;
  }
  // 64-bit arithmetic: base + range may pass the 32-bit limit.
  const std::int64_t end = static_cast<std::int64_t>(base_) + range_;
  for (std::int32_t i = 0; i < range_; ++i) {
    std::int64_t next = static_cast<std::int64_t>(last_) + 1;
    if (next == end) next = base_;
    last_ = static_cast<std::int32_t>(next);
    // A number outside the TCP port range is never free.
    if (last_ > 0 && last_ <= 65535 &&
        probe_(static_cast<std::uint16_t>(last_))) {
      return last_;
    }
  }
  traceNoPort("[   Need to increase range of ports allocated to daemon ]");
  error = fail<CORBA::IMP_LIMIT>(10061);
  return -1;
}

void PortAllocator::traceNoPort(const char* reason) {
  if (!tracePrefix_) return;
  std::optional<std::string> prefix = tracePrefix_();
  if (!prefix) return;
  traceStream() << *prefix << "No free port available to allocate!! ]" << endl
                << reason << endl;
}

}  // namespace talvo
