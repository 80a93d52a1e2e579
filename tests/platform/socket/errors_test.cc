// Translation of errno and resolver results into WinSock codes and names.

#include "platform/errors.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>
#include <string>

namespace talvo::platform {
namespace {

TEST(WinsockNames, RoundTripsOfCommonErrnoValues) {
  struct Case {
    int err;
    int code;
    const char* name;
  } cases[] = {
      {ECONNREFUSED, 10061, "WSAECONNREFUSED"},
      {ETIMEDOUT, 10060, "WSAETIMEDOUT"},
      {EADDRINUSE, 10048, "WSAEADDRINUSE"},
      {EPIPE, 10054, "WSAECONNRESET"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(winsockCodeFromErrno(c.err), c.code) << c.name;
    EXPECT_STREQ(winsockErrorName(c.code), c.name);
  }
  EXPECT_EQ(winsockCodeFromErrno(0), 0);
}

TEST(WinsockNames, BoundariesOfTheTable) {
  EXPECT_STREQ(winsockErrorName(10004), "WSAEINTR");
  EXPECT_STREQ(winsockErrorName(10093), "WSANOTINITIALISED");
  EXPECT_STREQ(winsockErrorName(10101), "WSAEDISCON");
  EXPECT_STREQ(winsockErrorName(11001), "WSAHOST_NOT_FOUND");
  EXPECT_STREQ(winsockErrorName(11004), "WSANO_DATA");
  // Neighbours of table entries that are not WinSock 1.1 codes.
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
  EXPECT_EQ(winsockCodeFromResolver(EAI_AGAIN, 0), 11002);
  EXPECT_EQ(winsockCodeFromResolver(EAI_FAIL, 0), 11003);
  EXPECT_EQ(winsockCodeFromResolver(EAI_NODATA, 0), 11004);
  EXPECT_EQ(winsockCodeFromResolver(EAI_SYSTEM, ECONNREFUSED), 10061);
  EXPECT_EQ(winsockCodeFromResolver(EAI_MEMORY, 0), 10055);
  EXPECT_EQ(winsockCodeFromResolver(EAI_SERVICE, 0), 11003);
}

}  // namespace
}  // namespace talvo::platform
