#include "activation/port_allocator.h"

#include <gtest/gtest.h>

#include <set>

#include "activation_support.h"
#include "support/scoped_env.h"

namespace talvo {
namespace {

// Hands out `times` ports; the ports a test calls taken are never free.
std::vector<int> allocate(PortAllocator& allocator, int times,
                          const std::set<int>& taken = {}) {
  allocator.setPortProbe([&](std::uint16_t p) { return !taken.count(p); });
  std::vector<int> ports;
  for (int i = 0; i < times; ++i) {
    Status error;
    ports.push_back(allocator.allocatePort(error));
    EXPECT_EQ(error == nullptr, ports.back() != -1);
    if (error) {
      EXPECT_EQ(error->bareName() + " " + std::to_string(error->minor()),
                "IMP_LIMIT 10061");
    }
  }
  return ports;
}

PortAllocator::TracePrefix prefix(bool on = true) {
  return [on] {
    return on ? std::optional<std::string>("[talvod: ") : std::nullopt;
  };
}

TEST(PortAllocatorRoundTrip, RotatesFromAfterBaseAndSkipsTakenPorts) {
  PortAllocator allocator("7600", "3");
  EXPECT_EQ(allocate(allocator, 4), (std::vector<int>{7601, 7602, 7600, 7601}));
  EXPECT_EQ(allocate(allocator, 2, {7602}), (std::vector<int>{7600, 7601}));
}

TEST(PortAllocatorBoundary, RangeOfOneAndTextsReadLikeAtoi) {
  PortAllocator allocator(" 7600x", "1z");
  EXPECT_EQ(allocate(allocator, 2), (std::vector<int>{7600, 7600}));
  PortAllocator outside("70000", "2");  // beyond the TCP port numbers
  EXPECT_EQ(allocate(outside, 1), std::vector<int>{-1});
}

TEST(PortAllocatorBoundary, AllTakenFailsAfterAFullTurnWithTwoTraceLines) {
  testing::TraceCapture trace;
  PortAllocator allocator("7600", "2", prefix());
  EXPECT_EQ(allocate(allocator, 1, {7600, 7601}), std::vector<int>{-1});
  EXPECT_EQ(allocator.last(), 7600);
  EXPECT_EQ(trace.lines(),
            (std::vector<std::string>{
                "[talvod: No free port available to allocate!! ]",
                "[   Need to increase range of ports allocated to daemon ]"}));
}

TEST(PortAllocatorError, NoRangeOrNoBaseHandsOutNothing) {
  testing::TraceCapture trace;
  for (const char* range : {"0", "-5", ""}) {
    PortAllocator allocator("2000", range, prefix(false));
    EXPECT_EQ(allocate(allocator, 1), std::vector<int>{-1});
    EXPECT_EQ(allocator.last(), 2000);
  }
  EXPECT_TRUE(trace.lines().empty());  // diagnostics off: silent
  PortAllocator noBase(nullptr, "50", prefix());
  EXPECT_EQ(allocate(noBase, 1), std::vector<int>{-1});
  EXPECT_TRUE(trace.hasLine("[   QV_DAEMON_SERVER_BASE is not set ]"));
}

TEST(PortAllocatorRoundTrip, DaemonAllocatorReadsTheRunTimeConfiguration) {
  testing::ScopedEnv base("QV_DAEMON_SERVER_BASE", "7600");
  testing::ScopedEnv range("QV_DAEMON_SERVER_RANGE", std::nullopt);
  auto allocator = PortAllocator::fromRuntimeConfig();  // range 50 by default
  EXPECT_EQ(allocator->base(), 7600);
  EXPECT_EQ(allocator->range(), 50);
  EXPECT_EQ(allocator->last(), 7600);
}

}  // namespace
}  // namespace talvo
