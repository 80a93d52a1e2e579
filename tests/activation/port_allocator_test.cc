#include "activation/port_allocator.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "activation_support.h"
#include "runtime/config/runtime_config.h"
#include "support/ports.h"

namespace talvo {
namespace {

// Holds a port busy (bound on every address) while it lives.
struct BusyPort {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  explicit BusyPort(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  }
  ~BusyPort() { ::close(fd); }
};

// The first of `count` consecutive ports free right now; tests run in
// parallel, so each test process starts its search elsewhere.
int freeRange(int count) {
  for (int base = 20000 + (::getpid() % 2000) * 10; base < 60000; base += 7) {
    bool free = true;
    for (int p = base; p < base + count; ++p) {
      free = free && PortAllocator::isPortFree(static_cast<std::uint16_t>(p));
    }
    if (free) return base;
  }
  return -1;
}

std::vector<int> allocate(PortAllocator& allocator, int times) {
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

TEST(PortAllocatorRoundTrip, RotatesFromAfterBaseAndSkipsBusyPorts) {
  int base = freeRange(3);
  ASSERT_GT(base, 0);
  PortAllocator allocator(std::to_string(base).c_str(), "3");
  EXPECT_EQ(allocate(allocator, 4),
            (std::vector<int>{base + 1, base + 2, base, base + 1}));
  BusyPort busy(base + 2);
  EXPECT_EQ(allocate(allocator, 2), (std::vector<int>{base, base + 1}));
}

TEST(PortAllocatorBoundary, RangeOfOneAndTextsReadLikeAtoi) {
  int base = freeRange(1);
  ASSERT_GT(base, 0);
  PortAllocator allocator((" " + std::to_string(base) + "x").c_str(), "1z");
  EXPECT_EQ(allocate(allocator, 2), (std::vector<int>{base, base}));
  PortAllocator outside("70000", "2");  // beyond the TCP port numbers
  EXPECT_EQ(allocate(outside, 1), std::vector<int>{-1});
}

TEST(PortAllocatorBoundary, AllBusyFailsAfterAFullTurnWithTwoTraceLines) {
  testing::TraceCapture trace;
  testing::LoopbackListener held(false);
  PortAllocator allocator(std::to_string(held.port()).c_str(), "1", prefix());
  EXPECT_EQ(allocate(allocator, 1), std::vector<int>{-1});
  EXPECT_EQ(allocator.last(), held.port());
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
  ::setenv("QV_DAEMON_SERVER_BASE", "7600", 1);
  ::unsetenv("QV_DAEMON_SERVER_RANGE");  // the default, 50
  auto allocator = PortAllocator::fromRuntimeConfig();
  EXPECT_EQ(allocator->base(), 7600);
  EXPECT_EQ(allocator->range(), 50);
  EXPECT_EQ(allocator->last(), 7600);
}

}  // namespace
}  // namespace talvo
