#include "platform/port_probe.h"

#include <gtest/gtest.h>

#include "support/ports.h"

namespace talvo::platform {
namespace {

// A port bound on loopback is busy for the probe (which binds every
// address). That a free port is found free is shown by every daemon test
// that launches a server.
TEST(PortProbeRoundTrip, BusyWhileBound) {
  talvo::testing::LoopbackListener held(false);
  EXPECT_FALSE(isPortFree(held.port()));
}

}  // namespace
}  // namespace talvo::platform
