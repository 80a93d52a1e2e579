// Listing the running servers and killing one with its record.

#include "binding_support.h"

namespace talvo {
namespace {

using testing::BindingTest;

class ManagementTest : public BindingTest {};

TEST_F(ManagementTest, ListShowsLiveProcessesOnly) {
  shared("bank", {{"*", probe("bank")}});
  shared("shop", {{"till", probe("shop")}});
  ImplementationDetails d;
  ASSERT_EQ(what(bind("bank", "a", &d)), "success");
  ASSERT_EQ(what(bind("shop", "till", &d)), "success");
  std::vector<ServerDetails> listed;
  ASSERT_EQ(listActiveServers(activator, &listed), nullptr);
  ASSERT_EQ(listed.size(), 2u);
  const ServerDetails& shop =
      listed[0].server == "shop" ? listed[0] : listed[1];
  EXPECT_EQ(shop.marker, "till");
  EXPECT_EQ(shop.principal, "");
  EXPECT_EQ(shop.code, "cdr");
  EXPECT_EQ(shop.comms, "tcp");
  EXPECT_EQ(shop.port, d.commsPort);
  EXPECT_EQ(static_cast<std::int32_t>(shop.OSspecific), pidOf("shop", "till"));
  EXPECT_EQ(shop.status, LaunchStatus::automaticLaunch);

  platform::killChildAndWait(pidOf("bank", "*"));
  ASSERT_EQ(listActiveServers(activator, &listed), nullptr);
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].server, "shop");
}

TEST_F(ManagementTest, KillEndsTheProcessAndRemovesItsRecord) {
  shared("bank", {{"*", probe("bank")}});
  ImplementationDetails d;
  ASSERT_EQ(what(bind("bank", "a", &d)), "success");
  std::int32_t pid = pidOf("bank", "*");
  ASSERT_EQ(what(killServer(activator, "bank", "*", "alice")), "success");
  EXPECT_EQ(activator.size(), 0u);
  EXPECT_TRUE(testing::eventually([&] {
    platform::reapEndedChildren();
    return testing::processGone(pid);
  }));
  EXPECT_EQ(what(killServer(activator, "bank", "*", "alice")),
            "BAD_OPERATION 10244 bank");
  // The next request starts a fresh process.
  ASSERT_EQ(what(bind("bank", "a", &d)), "success");
  EXPECT_NE(pidOf("bank", "*"), pid);
}

TEST_F(ManagementTest, KillFindsTheCallersOwnPerClientProcess) {
  shared("priv", {{"*", probe("priv")}}, imprep::kPrivate);
  ImplementationDetails d;
  ASSERT_EQ(what(bind("priv", "x", &d, "alice")), "success");
  ASSERT_EQ(what(bind("priv", "x", &d, "bob")), "success");
  std::int32_t bob = pidOf("priv", "*", "bob");
  ASSERT_EQ(what(killServer(activator, "priv", "*", "bob")), "success");
  EXPECT_EQ(activator.table().keys(),
            std::vector<std::string>{"priv|||*|||alice"});
  EXPECT_TRUE(testing::eventually([&] {
    platform::reapEndedChildren();
    return testing::processGone(bob);
  }));
}

}  // namespace
}  // namespace talvo
