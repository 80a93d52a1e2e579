// The built talvod end to end: requests served over its port as they come,
// failures as exception replies, the protected mode with the lookups of a
// real loopback connection, and a launched server that ends at once.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "support/talvod.h"
#include "support/talvod_client.h"

namespace talvo::testing {
namespace {

using client::Strings;

TEST(DaemonEndToEnd, ServesRequestsAsTheyComeAndAnswersFailures) {
  DaemonUnderTest d;
  ASSERT_TRUE(d.ready()) << d.log();
  TalvodClient c(d.port());
  ASSERT_EQ(c.newSharedServer("bank", Strings{"m1"}, Strings{"/bin/a"}, 0u),
            nullptr);
  bool exists = false;
  ASSERT_EQ(c.serverExists("bank", &exists), nullptr);
  EXPECT_TRUE(exists);

  Status missing = c.deleteServer("ghost");
  ASSERT_NE(missing, nullptr);
  EXPECT_EQ(missing->bareName(), "BAD_OPERATION");
  EXPECT_EQ(missing->minor(), 10241u);
  // A name that would leave the repository is refused, and the daemon
  // goes on serving.
  EXPECT_NE(
      c.newSharedServer("../../etc/x", Strings{"m"}, Strings{"/bin/a"}, 0u),
      nullptr);
  EXPECT_FALSE(std::filesystem::exists(
      std::filesystem::path(d.dir().path()).parent_path() / "etc/x.IMP"));

  // Without a Priority setting requests are served as they come; a daemon
  // that paused between passes served two a second.
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(c.serverExists("bank", &exists), nullptr);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
}

// The binding exchange carries the client's user name: in protected mode
// the daemon's own user from this host may change the repository.
TEST(DaemonEndToEnd, ProtectedModeAcceptsItsOwnUserFromThisHost) {
  DaemonUnderTest d({.settings = "Protected=yes\n"});
  ASSERT_TRUE(d.ready()) << d.log();
  TalvodClient c(d.port());
  EXPECT_EQ(c.newDirectory("d"), nullptr) << d.log();
  EXPECT_TRUE(std::filesystem::is_directory(d.dir().file("imprep/d")));
}

TEST(DaemonEndToEnd, ServerThatEndsAtOnceIsAFailedLaunch) {
  DaemonUnderTest d;
  ASSERT_TRUE(d.ready()) << d.log();
  TalvodClient c(d.port());
  const std::string command =
      std::string(TALVO_LAUNCH_PROBE) + " " + d.dir().file("r") + " 0 3";
  ASSERT_EQ(c.newSharedServer("quick", Strings{"m"}, Strings{command}, 0u),
            nullptr);
  client::ImplementationDetails details;
  Status st = c.getImplementationDetails("quick", "m", "", &details);
  // Either the start-up test saw it end (NO_IMPLEMENT 10202), or it was
  // still running then and is gone from the list once reaped.
  if (st != nullptr) {
    EXPECT_EQ(st->bareName(), "NO_IMPLEMENT");
    EXPECT_EQ(st->minor(), 10202u);
  }
  EXPECT_TRUE(eventually([&] {
    std::vector<client::ServerDetails> active;
    return c.listActiveServers(&active) == nullptr && active.empty();
  }));
  bool exists = false;
  EXPECT_EQ(c.serverExists("quick", &exists), nullptr);  // still serving
}

}  // namespace
}  // namespace talvo::testing
