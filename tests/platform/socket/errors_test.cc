// Translation of errno and resolver results into WinSock codes and names.

#include "platform/errors.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>
#include <string>

namespace talvo::platform {
namespace {

TEST(WinsockNames, ErrnoReadsAsItsCodeAndTheTableHasNoGaps) {
  EXPECT_EQ(winsockCodeFromErrno(0), 0);
  EXPECT_EQ(winsockCodeFromErrno(ECONNREFUSED), 10061);
  EXPECT_STREQ(winsockErrorName(10061), "WSAECONNREFUSED");
  EXPECT_STREQ(winsockErrorName(winsockCodeFromErrno(EPIPE)), "WSAECONNRESET");
  // The first and last of each block are named; their neighbours that are
  // not WinSock 1.1 codes are not.
  for (int code : {10004, 10093, 10101, 11001, 11004}) {
    EXPECT_STRNE(winsockErrorName(code), "UNKNOWN") << code;
  }
  for (int code :
       {0, 10000, 10003, 10005, 10072, 10090, 10094, 11000, 11005, -1}) {
    EXPECT_STREQ(winsockErrorName(code), "UNKNOWN") << code;
  }
}

TEST(WinsockNames, ErrnoWithoutCounterpartNeverBorrowsAName) {
  // ENODATA is 61 on Linux: 10000 + 61 would read WSAECONNREFUSED.
  for (int err : {ENOENT, ENODATA, EIO, ENOSPC}) {
    int code = winsockCodeFromErrno(err);
    EXPECT_STREQ(winsockErrorName(code), "UNKNOWN") << err;
    EXPECT_EQ(code, kUnmappedBase + err);
  }
}

TEST(WinsockNames, ResolverResults) {
  EXPECT_EQ(winsockCodeFromResolver(0, 0), 0);
  EXPECT_EQ(winsockCodeFromResolver(EAI_NONAME, 0), 11001);
  // A system failure reads as its errno.
  EXPECT_EQ(winsockCodeFromResolver(EAI_SYSTEM, ECONNREFUSED), 10061);
}

}  // namespace
}  // namespace talvo::platform
