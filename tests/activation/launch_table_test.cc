#include "activation/launch_table.h"

#include <gtest/gtest.h>

namespace talvo {
namespace {

std::unique_ptr<LaunchRecord> record(const std::string& port) {
  auto r = std::make_unique<LaunchRecord>();
  r->port = port;
  return r;
}

// A key "k<n>" whose hash gives `remainder` mod 511.
std::string keyWithRemainder(std::uint32_t remainder) {
  for (int n = 0;; ++n) {
    std::string key = "k" + std::to_string(n);
    if (LaunchTable::hash(key) % LaunchTable::kBuckets == remainder) return key;
  }
}

TEST(LaunchKeyRoundTrip, MakeAndSplit) {
  EXPECT_EQ(makeLaunchKey("bank", "*", std::nullopt), "bank|||*|||");
  LaunchKeyParts parts = splitLaunchKey("bank|||obj1|||1234");
  EXPECT_EQ(parts.server, "bank");
  EXPECT_EQ(parts.marker, "obj1");
  EXPECT_EQ(parts.principal, "1234");
  parts = splitLaunchKey("||||||");
  EXPECT_EQ(parts.server, "");
  EXPECT_FALSE(parts.marker || parts.principal);
  parts = splitLaunchKey("bank|||obj1");  // one separator only: no parts
  EXPECT_EQ(parts.server, "");
  EXPECT_FALSE(parts.marker || parts.principal);
}

TEST(LaunchTableBoundary, HashUsesSignedBytesAndNeverBucketZero) {
  EXPECT_EQ(LaunchTable::hash("a"), 99u);
  EXPECT_EQ(LaunchTable::bucketOf("\xE9"), 11);  // 2 - 23 as unsigned, mod 511
  EXPECT_EQ(LaunchTable::bucketOf(keyWithRemainder(0)), 1);
}

TEST(LaunchTableBoundary, WalkGoesByBucketThenChainOrder) {
  LaunchTable table;
  std::string late = keyWithRemainder(200), one = keyWithRemainder(1),
              zero = keyWithRemainder(0);
  ASSERT_TRUE(table.insert(late, record("late")));
  ASSERT_TRUE(table.insert(one, record("one")));
  ASSERT_TRUE(table.insert(zero, record("zero")));
  EXPECT_FALSE(table.insert(one, record("again")));
  // Keys hashing to a multiple of 511 follow the earlier keys of bucket 1.
  EXPECT_EQ(table.keys(), (std::vector<std::string>{one, zero, late}));
  EXPECT_EQ(table.find(one)->port, "one");
}

TEST(LaunchTableBoundary, FirstMatchingPatternInWalkOrderWins) {
  std::string a = "bank|||*|||", b = "bank|||ob*|||";
  ASSERT_NE(LaunchTable::bucketOf(a), LaunchTable::bucketOf(b));
  std::string first =
      LaunchTable::bucketOf(a) < LaunchTable::bucketOf(b) ? a : b;
  for (bool aFirst : {true, false}) {
    LaunchTable table;
    table.insert(aFirst ? a : b, record(aFirst ? a : b));
    table.insert(aFirst ? b : a, record(aFirst ? b : a));
    EXPECT_EQ(table.find("bank|||obj1|||"), nullptr);  // exact only
    ASSERT_NE(table.findMatch("bank|||obj1|||"), nullptr);
    EXPECT_EQ(table.findMatch("bank|||obj1|||")->port, first);
    ASSERT_TRUE(table.removeFirstMatch("bank|||obj1|||"));
    EXPECT_EQ(table.find(first), nullptr);
    EXPECT_EQ(table.size(), 1u);
  }
}

TEST(LeadingIntegerBoundary, ReadsLikeAtoiAndClamps) {
  EXPECT_EQ(leadingInteger("  -12abc"), -12);
  EXPECT_EQ(leadingInteger("\t+7"), 7);
  EXPECT_EQ(leadingInteger("alice"), 0);
  EXPECT_EQ(leadingInteger("+-5"), 0);
  EXPECT_EQ(leadingInteger(std::string_view("12", 1)), 1);  // not past the end
  EXPECT_EQ(leadingInteger(static_cast<const char*>(nullptr)), 0);
  EXPECT_EQ(leadingInteger("2147483648"), INT32_MAX);
  EXPECT_EQ(leadingInteger("-2147483648"), INT32_MIN);
  EXPECT_EQ(leadingInteger("-99999999999999999999"), INT32_MIN);
}

}  // namespace
}  // namespace talvo
