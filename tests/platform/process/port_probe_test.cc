#include "platform/port_probe.h"

#include <gtest/gtest.h>

#include "support/ports.h"

namespace talvo::platform {
namespace {

// A port bound on loopback is busy for the probe (which binds every
// address) until its socket closes.
TEST(PortProbeRoundTrip, BusyWhileBound) {
  std::uint16_t port = 0;
  {
    talvo::testing::LoopbackListener held(false);
    port = held.port();
    EXPECT_FALSE(isPortFree(port));
  }
  EXPECT_TRUE(isPortFree(port));
}

}  // namespace
}  // namespace talvo::platform
