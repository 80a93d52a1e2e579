// PortAllocator: hands out TCP ports from the daemon's server range.
//
// The range is base .. base + range - 1, read from QV_DAEMON_SERVER_BASE and
// QV_DAEMON_SERVER_RANGE. Ports are handed out in rotation, each call going
// on after the port handed out or tried last and skipping ports that cannot
// be bound at that moment. Nothing is reserved or given back. Without a
// base the allocator hands out nothing.
//
// Thread safety: none; one allocator per daemon, used from its event loop.

#ifndef TALVO_ACTIVATION_PORT_ALLOCATOR_H_
#define TALVO_ACTIVATION_PORT_ALLOCATOR_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "runtime/except/exception.h"

namespace talvo {

class PortAllocator {
 public:
  // Gives the trace-line prefix when the diagnostics level is not 0, and
  // nothing when diagnostics are off.
  using TracePrefix = std::function<std::optional<std::string>()>;

  // `base` and `range` are the configuration texts (null or empty: unset),
  // read like atoi. `range` unset means 0; the shipped default is "50".
  // Without `tracePrefix` the allocator writes no trace lines.
  PortAllocator(const char* base, const char* range,
                TracePrefix tracePrefix = {});

  // The allocator of the daemon, from the process's run-time configuration.
  static std::unique_ptr<PortAllocator> fromRuntimeConfig();

  // The next free port of the range, or -1 with `error` set to IMP_LIMIT
  // 10061 when no port of the range is free (or there is no base).
  int allocatePort(Status& error);

  // True when the port can be bound right now.
  static bool isPortFree(std::uint16_t port);
  // Replaces isPortFree as the test of a port (for tests that decide which
  // ports are taken).
  void setPortProbe(std::function<bool(std::uint16_t)> probe) {
    probe_ = std::move(probe);
  }

  bool hasBase() const { return hasBase_; }
  int base() const { return base_; }
  int range() const { return range_; }
  int last() const { return last_; }

 private:
  void traceNoPort(const char* reason);

  bool hasBase_ = false;
  std::int32_t base_ = 0;
  std::int32_t range_ = 0;
  std::int32_t last_ = 0;
  TracePrefix tracePrefix_;
  std::function<bool(std::uint16_t)> probe_ = &PortAllocator::isPortFree;
};

}  // namespace talvo

#endif  // TALVO_ACTIVATION_PORT_ALLOCATOR_H_
