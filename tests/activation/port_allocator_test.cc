#include "activation/port_allocator.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "activation_support.h"

namespace talvo {
namespace {

using talvo::testing::TraceCapture;

// Holds a port busy by binding it on every address.
class BusyPort {
 public:
  explicit BusyPort(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~BusyPort() { ::close(fd_); }
  bool bound() const { return bound_; }

 private:
  int fd_ = -1;
  bool bound_ = false;
};

// The start of `count` consecutive ports that are free right now (tests run
// in parallel, so each test process searches its own stretch).
int freeRange(int count) {
  int start = 20000 + (::getpid() % 2000) * 10;
  for (int base = start; base < 60000; base += count) {
    bool allFree = true;
    for (int p = base; p < base + count; ++p) {
      allFree =
          allFree && PortAllocator::isPortFree(static_cast<std::uint16_t>(p));
    }
    if (allFree) return base;
  }
  return -1;
}

PortAllocator::TracePrefix prefix() {
  return [] { return std::optional<std::string>("[talvod: "); };
}

void expectImpLimit(const Status& error) {
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->bareName(), "IMP_LIMIT");
  EXPECT_EQ(error->minor(), 10061u);
  EXPECT_EQ(error->completed(), CORBA::COMPLETED_NO);
  EXPECT_FALSE(error->detail());
}

// Round trips.

TEST(PortAllocatorRoundTrip, RotatesThroughTheRangeStartingAfterBase) {
  int base = freeRange(3);
  ASSERT_GT(base, 0);
  PortAllocator allocator(std::to_string(base).c_str(), "3");
  std::vector<int> got;
  for (int i = 0; i < 4; ++i) {
    Status error;
    got.push_back(allocator.allocatePort(error));
    EXPECT_EQ(error, nullptr);
  }
  EXPECT_EQ(got, (std::vector<int>{base + 1, base + 2, base, base + 1}));
}

TEST(PortAllocatorRoundTrip, BusyPortIsSkipped) {
  int base = freeRange(3);
  ASSERT_GT(base, 0);
  BusyPort busy(base + 1);
  ASSERT_TRUE(busy.bound());
  PortAllocator allocator(("  " + std::to_string(base) + "xyz").c_str(), "3");
  EXPECT_EQ(allocator.base(), base);
  Status error;
  EXPECT_EQ(allocator.allocatePort(error), base + 2);
  EXPECT_EQ(allocator.allocatePort(error), base);
  EXPECT_EQ(error, nullptr);
}

// Boundaries.

TEST(PortAllocatorBoundary, RangeOfOneAlwaysGivesBase) {
  int base = freeRange(1);
  ASSERT_GT(base, 0);
  PortAllocator allocator(std::to_string(base).c_str(), "1");
  Status error;
  EXPECT_EQ(allocator.allocatePort(error), base);
  EXPECT_EQ(allocator.allocatePort(error), base);
}

TEST(PortAllocatorBoundary, AllBusyFailsAfterAFullTurn) {
  TraceCapture trace;
  int base = freeRange(2);
  ASSERT_GT(base, 0);
  BusyPort a(base), b(base + 1);
  ASSERT_TRUE(a.bound() && b.bound());
  PortAllocator allocator(std::to_string(base).c_str(), "2", prefix());
  Status error;
  EXPECT_EQ(allocator.allocatePort(error), -1);
  expectImpLimit(error);
  EXPECT_EQ(allocator.last(), base);
  EXPECT_EQ(trace.lines(),
            (std::vector<std::string>{
                "[talvod: No free port available to allocate!! ]",
                "[   Need to increase range of ports allocated to daemon ]"}));
}

TEST(PortAllocatorBoundary, NumbersOutsideThePortRangeAreNeverHandedOut) {
  PortAllocator allocator("70000", "2");
  Status error;
  EXPECT_EQ(allocator.allocatePort(error), -1);
  expectImpLimit(error);
}

// Error paths.

TEST(PortAllocatorError, EmptyOrNegativeRangeFailsAtOnce) {
  TraceCapture trace;
  for (const char* range : {"0", "-5", "", static_cast<const char*>(nullptr)}) {
    PortAllocator allocator("2000", range);  // no trace prefix: silent
    Status error;
    EXPECT_EQ(allocator.allocatePort(error), -1);
    expectImpLimit(error);
    EXPECT_EQ(allocator.last(), 2000);
  }
  EXPECT_TRUE(trace.lines().empty());
}

TEST(PortAllocatorError, NoBaseHandsOutNothingAndSaysWhy) {
  TraceCapture trace;
  for (const char* base : {"", static_cast<const char*>(nullptr)}) {
    PortAllocator allocator(base, "50", prefix());
    EXPECT_FALSE(allocator.hasBase());
    Status error;
    EXPECT_EQ(allocator.allocatePort(error), -1);
    expectImpLimit(error);
  }
  EXPECT_TRUE(trace.hasLine("[   QV_DAEMON_SERVER_BASE is not set ]"));
}

TEST(PortAllocatorError, DiagnosticsOffWritesNothing) {
  TraceCapture trace;
  PortAllocator allocator(nullptr, "1",
                          [] { return std::optional<std::string>(); });
  Status error;
  EXPECT_EQ(allocator.allocatePort(error), -1);
  EXPECT_TRUE(trace.lines().empty());
}

}  // namespace
}  // namespace talvo
