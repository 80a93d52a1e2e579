#include "imprep/launch_info.h"

#include <gtest/gtest.h>

namespace talvo::imprep {
namespace {

std::vector<std::string> keys(const LaunchInfo& info) {
  std::vector<std::string> out;
  for (const LaunchEntry& e : info.list()) out.push_back(e.key);
  return out;
}

// Round trips: hash order, replacement and removal.
TEST(LaunchInfoTest, TableWalksInHashOrder) {
  // "a" hashes to 99, a multiple of 11: bucket 0 is never used, so bucket 1.
  EXPECT_EQ(LaunchInfo::bucketOf("a"), 1u);
  EXPECT_EQ(LaunchInfo::bucketOf("b"), 100u % 11);
  EXPECT_EQ(LaunchInfo::bucketOf(""), 1u);
  // Bytes count as signed: "\xff" is -1, so 2 * 1 - 1 = 1.
  EXPECT_EQ(LaunchInfo::bucketOf("\xff"), 1u);

  SharedLaunchInfo info(kPlain);
  info.add("b", "cb");  // bucket 1
  info.add("c", "cc");  // 101 % 11 = 2
  info.add("a", "ca");  // bucket 1, after "b"
  EXPECT_EQ(keys(info), (std::vector<std::string>{"b", "a", "c"}));
  info.add("b", "new");
  EXPECT_EQ(keys(info), (std::vector<std::string>{"b", "a", "c"}));
  EXPECT_EQ(info.lookup("b")->command, "new");
  info.remove("a");
  info.remove("absent");
  EXPECT_EQ(keys(info), (std::vector<std::string>{"b", "c"}));
  EXPECT_EQ(info.size(), 2u);
}

TEST(LaunchInfoTest, LookupPrefersExactThenPatternThenFirst) {
  UnsharedLaunchInfo info(kPrivate);
  info.add("a*", "pattern");
  info.add("ab", "exact");
  EXPECT_EQ(info.lookup("ab"), (LaunchEntry{"ab", "exact"}));
  EXPECT_EQ(info.lookup("ax"), (LaunchEntry{"a*", "pattern"}));
  EXPECT_EQ(info.lookup("")->key, info.list().front().key);
  EXPECT_FALSE(info.lookup("zz"));
  EXPECT_FALSE(info.lookup("_QV_PING"));
  EXPECT_EQ(info.mode(), kUnshared);
  EXPECT_EQ(info.submode(), kPrivate);
}

TEST(LaunchInfoTest, PatternTieBreakFollowsTableOrder) {
  SharedLaunchInfo info(kPlain);
  info.add("obj*", "second");  // bucket 10
  info.add("*j1", "first");    // bucket 8, walked first
  ASSERT_EQ(LaunchInfo::bucketOf("obj*"), 10u);
  ASSERT_EQ(LaunchInfo::bucketOf("*j1"), 8u);
  EXPECT_EQ(info.lookup("obj1")->command, "first");
}

// Boundaries: empty tables and the ping key.
TEST(LaunchInfoTest, PerMethodPingFindsAMethod) {
  PerMethodLaunchInfo info;
  EXPECT_FALSE(info.lookup("_QV_PING"));
  info.add("deposit", "bank_server");
  EXPECT_EQ(info.lookup("_QV_PING"), (LaunchEntry{"deposit", "bank_server"}));
  EXPECT_EQ(info.mode(), kPerMethod);
  EXPECT_EQ(info.submode(), kPlain);
}

}  // namespace
}  // namespace talvo::imprep
