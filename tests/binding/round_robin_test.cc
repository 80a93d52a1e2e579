// Round-robin groups: the member each request goes to, members launched on
// first use, and a dead member relaunched on its turn.

#include "binding_support.h"

namespace talvo {
namespace {

using testing::BindingTest;

class RoundRobinTest : public BindingTest {
 protected:
  // The member ("#i") whose launch record holds `port`.
  std::string memberOf(const std::string& server, const std::string& port) {
    for (int i = 1; i <= 9; ++i) {
      std::string member = "#" + std::to_string(i);
      LaunchRecord* r = activator.getLaunchRecord(server, member, {});
      if (r != nullptr && r->port == port) return member;
    }
    return "none";
  }
};

TEST_F(RoundRobinTest, GroupOfThreeGoesOneTwoThreeOneTwo) {
  for (std::uint32_t mode :
       {imprep::kRoundRobinDynamic, imprep::kRoundRobinPrestart}) {
    std::string name = "rr" + std::to_string(mode);
    shared(name, {{"*", probe(name)}}, mode, 3);
    std::vector<std::string> order;
    std::vector<std::size_t> processes;
    std::size_t before = activator.size();
    for (int i = 0; i < 5; ++i) {
      ImplementationDetails d;
      ASSERT_EQ(what(bind(name, "obj", &d)), "success");
      order.push_back(memberOf(name, d.commsPort));
      processes.push_back(activator.size() - before);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"#1", "#2", "#3", "#1", "#2"}))
        << name;
    // Members start when first chosen, prestart or not.
    EXPECT_EQ(processes, (std::vector<std::size_t>{1, 2, 3, 3, 3})) << name;
    EXPECT_EQ(activator.getLaunchRecord(name, "#1", {})->roundRobinCount, 4u);
    EXPECT_TRUE(trace.hasLine(" using RR server "));
    EXPECT_TRUE(trace.hasLine(" will launch next one: #3."));
  }
}

TEST_F(RoundRobinTest, DeadMemberIsRelaunchedOnItsTurnOnly) {
  shared("grp", {{"*", probe("grp")}}, imprep::kRoundRobinDynamic, 3);
  ImplementationDetails d;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(what(bind("grp", "o", &d)), "success");
  std::int32_t one = pidOf("grp", "#1"), two = pidOf("grp", "#2"),
               three = pidOf("grp", "#3");
  platform::killChildAndWait(two);
  ASSERT_EQ(what(bind("grp", "o", &d)), "success");  // #1, alive
  ASSERT_EQ(what(bind("grp", "o", &d)), "success");  // #2, launched again
  EXPECT_EQ(memberOf("grp", d.commsPort), "#2");
  EXPECT_NE(pidOf("grp", "#2"), two);
  EXPECT_EQ(pidOf("grp", "#1"), one);
  EXPECT_EQ(pidOf("grp", "#3"), three);
  EXPECT_EQ(testing::childProcesses().size(), 3u);
}

TEST_F(RoundRobinTest, MemberOneGoneRestartsTheCycle) {
  shared("grp", {{"*", probe("grp")}}, imprep::kRoundRobinDynamic, 3);
  ImplementationDetails d;
  for (int i = 0; i < 2; ++i) ASSERT_EQ(what(bind("grp", "o", &d)), "success");
  ASSERT_EQ(killServer(activator, "grp", "#1", std::nullopt), nullptr);
  ASSERT_EQ(what(bind("grp", "o", &d)), "success");
  EXPECT_EQ(memberOf("grp", d.commsPort), "#1");
  EXPECT_EQ(activator.getLaunchRecord("grp", "#1", {})->roundRobinCount, 0u);
  ASSERT_EQ(what(bind("grp", "o", &d)), "success");
  EXPECT_EQ(memberOf("grp", d.commsPort), "#2");
}

TEST_F(RoundRobinTest, WellKnownPortGoesToEveryMember) {
  shared("wk", {{"*", probe("wk")}}, imprep::kRoundRobinPrestart, 2, 7800);
  ImplementationDetails d;
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(what(bind("wk", "o", &d)), "success");
    EXPECT_EQ(d.commsPort, "7800");
  }
  EXPECT_EQ(activator.getLaunchRecord("wk", "#1", {})->port, "7800");
  EXPECT_EQ(activator.getLaunchRecord("wk", "#2", {})->port, "7800");
  // Each member still gets an IIOP port of its own.
  EXPECT_NE(activator.getLaunchRecord("wk", "#1", {})->iiopPort,
            activator.getLaunchRecord("wk", "#2", {})->iiopPort);
}

}  // namespace
}  // namespace talvo
