// The text the closedown handler writes.

#include "platform/signals.h"

#include <gtest/gtest.h>
#include <unistd.h>

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
  EXPECT_EQ(out.substr(0, 1), "[");
  EXPECT_EQ(out[3], ':');
  EXPECT_EQ(out[6], ':');
  EXPECT_EQ(out.substr(9, 14), " --- talvod@h ");
  int hours = std::stoi(out.substr(1, 2));
  int minutes = std::stoi(out.substr(4, 2));
  int seconds = std::stoi(out.substr(7, 2));
  EXPECT_LT(hours, 24);
  EXPECT_LT(minutes, 60);
  EXPECT_LT(seconds, 60);
  // The clock is the local time of the signal.
  time_t now = ::time(nullptr);
  struct tm local {};
  ::localtime_r(&now, &local);
  EXPECT_EQ(hours, local.tm_hour);

  // A clock offset past the end of the prefix is ignored, not overrun.
  setClosedownText(true, "[x", 1);
  EXPECT_EQ(closedownOutput(2).substr(0, 3), "[x\n");

  setClosedownText(false, "[talvod: ");
  EXPECT_EQ(closedownOutput(2), "");
}

}  // namespace
}  // namespace talvo::platform
