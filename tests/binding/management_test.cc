// Killing a running server by the caller's own launch record.

#include "binding_support.h"

namespace talvo {
namespace {

using ManagementTest = testing::BindingTest;

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
  EXPECT_EQ(what(killServer(activator, "priv", "*", "bob")),
            "BAD_OPERATION 10244 priv");
}

}  // namespace
}  // namespace talvo
