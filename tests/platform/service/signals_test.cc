// The text the closedown handler writes.

#include "platform/signals.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

namespace talvo::platform {
namespace {

std::string closedownOutput(int sig) {
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  writeClosedownText(fds[1], sig);
  ::close(fds[1]);
  std::string out;
  char c;
  while (::read(fds[0], &c, 1) == 1) out += c;
  ::close(fds[0]);
  return out;
}

TEST(ClosedownTextTest, ShortAndLongPrefixesAndSilence) {
  setClosedownText(true, "[talvod: ");
  EXPECT_EQ(closedownOutput(2),
            "[talvod: \n<Closedown Handler, Tidying up after signal: 2>\n");
  EXPECT_EQ(closedownOutput(15).substr(9),
            "\n<Closedown Handler, Tidying up after signal: 15>\n");

  setClosedownText(true, "[00:00:00 --- talvod@h ", 1);
  std::string out = closedownOutput(2);
  ASSERT_GE(out.size(), 23u);
  EXPECT_EQ(out[0], '[');
  EXPECT_EQ(out.substr(9, 14), " --- talvod@h ");
  // The clock is the local time of the signal, as "hh:mm:ss".
  time_t now = ::time(nullptr);
  struct tm local {};
  ::localtime_r(&now, &local);
  char hour[4];
  std::snprintf(hour, sizeof hour, "%02d:", local.tm_hour);
  EXPECT_EQ(out.substr(1, 3), hour);
  EXPECT_EQ(out[6], ':');

  // A clock offset past the end of the prefix is ignored, not overrun.
  setClosedownText(true, "[x", 1);
  EXPECT_EQ(closedownOutput(2).substr(0, 3), "[x\n");

  setClosedownText(false, "[talvod: ");
  EXPECT_EQ(closedownOutput(2), "");
}

// A control reaches the handler on the control thread, which otherwise
// sleeps; ending the thread does not wait for another control.
TEST(ControlSignalThreadTest, DeliversControlsAndEndsAtOnce) {
  std::atomic<int> last{0};
  const auto start = std::chrono::steady_clock::now();
  {
    ControlSignalThread controls([&](int control) { last = control; });
    ::kill(::getpid(), SIGHUP);
    while (last == 0 && std::chrono::steady_clock::now() - start <
                            std::chrono::seconds(10)) {
      ::poll(nullptr, 0, 2);
    }
    EXPECT_EQ(last, kControlUser);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// An ended child makes the descriptor readable until its notice is taken.
TEST(ChildEndWatchTest, ReadableWhenAChildEnds) {
  ChildEndWatch watch;
  ASSERT_GE(watch.descriptor(), 0);
  pollfd p{watch.descriptor(), POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 0), 0);
  pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ASSERT_EQ(::poll(&p, 1, 10000), 1);
  watch.drain();
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(::poll(&p, 1, 0), 0);
}

}  // namespace
}  // namespace talvo::platform
