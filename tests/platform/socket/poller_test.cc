// The wait set over socket pairs: what it reports, for how long, and how
// it copes when its view of a descriptor is out of date.

#include "platform/poller.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "platform/socket.h"

namespace talvo::platform {
namespace {

// Both ends of a connected local stream pair, closed at the end.
struct Ends {
  int a = -1, b = -1;
  Ends() {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
    a = fds[0];
    b = fds[1];
  }
  Ends(const Ends&) = delete;
  Ends& operator=(const Ends&) = delete;
  ~Ends() {
    if (a >= 0) ::close(a);
    if (b >= 0) ::close(b);
  }
};

// The events reported for `fd` by one wait of `timeout_ms`, 0 if none.
short readyOf(Poller& p, int fd, int timeout_ms = 0) {
  std::vector<WaitEntry> ready;
  EXPECT_EQ(p.wait(ready, 16, timeout_ms), 0);
  for (const WaitEntry& e : ready) {
    if (e.fd == fd) return e.revents;
  }
  return 0;
}

TEST(PollerTest, ReportsWhatIsAskedForAsLongAsItHolds) {
  Poller p;
  ASSERT_EQ(p.status(), 0);
  Ends s;
  ASSERT_EQ(p.set(s.a, kWaitRead, 0), 0);
  EXPECT_EQ(readyOf(p, s.a), 0);
  ASSERT_EQ(::write(s.b, "x", 1), 1);
  // Level-triggered: reported again until the byte is read.
  EXPECT_EQ(readyOf(p, s.a), kWaitRead);
  EXPECT_EQ(readyOf(p, s.a), kWaitRead);
  char c;
  ASSERT_EQ(::read(s.a, &c, 1), 1);
  EXPECT_EQ(readyOf(p, s.a), 0);

  // Changed to writing, then taken out: a readable end is not reported.
  ASSERT_EQ(::write(s.b, "y", 1), 1);
  ASSERT_EQ(p.set(s.a, kWaitWrite, kWaitRead), 0);
  EXPECT_EQ(readyOf(p, s.a), kWaitWrite);
  ASSERT_EQ(p.set(s.a, 0, kWaitWrite), 0);
  EXPECT_EQ(readyOf(p, s.a), 0);
  // Taking out what is not in the set is no failure.
  EXPECT_EQ(p.set(s.a, 0, 0), 0);
  EXPECT_EQ(p.set(s.a, 0, kWaitRead), 0);

  // The peer's close shows as readable with a hang-up.
  ASSERT_EQ(p.set(s.a, kWaitRead, 0), 0);
  ::close(s.b);
  s.b = -1;
  EXPECT_NE(readyOf(p, s.a) & kWaitHangUp, 0);
}

TEST(PollerTest, AWaitTakesAtMostItsShareAndTheRestStaysReady) {
  Poller p;
  std::vector<Ends> pairs(5);
  for (Ends& s : pairs) {
    ASSERT_EQ(p.set(s.a, kWaitRead, 0), 0);
    ASSERT_EQ(::write(s.b, "x", 1), 1);
  }
  std::vector<int> seen;
  std::vector<WaitEntry> ready;
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(p.wait(ready, 2, 0), 0);
    ASSERT_EQ(ready.size(), round < 2 ? 2u : 1u);
    for (const WaitEntry& e : ready) {
      seen.push_back(e.fd);
      char c;
      ASSERT_EQ(::read(e.fd, &c, 1), 1);
    }
  }
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end());
  EXPECT_EQ(seen.size(), 5u);
}

TEST(PollerTest, WaitsForItsTimeWhenNothingComes) {
  Poller p;
  Ends s;
  ASSERT_EQ(p.set(s.a, kWaitRead, 0), 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(readyOf(p, s.a, 30), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(29));
}

TEST(PollerTest, ADescriptorNumberReusedAfterACloseIsWatchedAnew) {
  Poller p;
  Ends first;
  ASSERT_EQ(p.set(first.a, kWaitRead, 0), 0);
  const int number = first.a;
  // Closed while in the set: it leaves the set by itself. Another socket
  // gets the same number; the set is told of a change, not an addition.
  ::close(first.a);
  first.a = -1;
  Ends second;
  ASSERT_EQ(::dup2(second.a, number), number);
  ASSERT_EQ(p.set(number, kWaitRead, kWaitRead), 0);
  ASSERT_EQ(::write(second.b, "x", 1), 1);
  EXPECT_EQ(readyOf(p, number), kWaitRead);
  // Told of an addition for what the set holds already: still watched.
  EXPECT_EQ(p.set(number, kWaitRead | kWaitWrite, 0), 0);
  EXPECT_EQ(readyOf(p, number), kWaitRead | kWaitWrite);
  ::close(number);
}

TEST(PollerTest, WhatCannotBeWaitedOnIsRefused) {
  Poller p;
  Ends s;
  const int closed = ::dup(s.a);
  ::close(closed);
  EXPECT_NE(p.set(closed, kWaitRead, 0), 0);
  // A regular file is always ready; the set refuses it.
  char name[] = "/tmp/talvo-poller-XXXXXX";
  const int file = ::mkstemp(name);
  ASSERT_GE(file, 0);
  ::unlink(name);
  EXPECT_NE(p.set(file, kWaitRead, 0), 0);
  ::close(file);
}

}  // namespace
}  // namespace talvo::platform
