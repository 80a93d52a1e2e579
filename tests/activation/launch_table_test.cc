#include "activation/launch_table.h"

#include <gtest/gtest.h>

#include <climits>

namespace talvo {
namespace {

std::unique_ptr<LaunchRecord> recordWithPort(const std::string& port) {
  auto record = std::make_unique<LaunchRecord>();
  record->port = port;
  return record;
}

// A key of the form "k<n>" whose hash gives `remainder` mod 511.
std::string keyWithRemainder(std::uint32_t remainder, int skip = 0) {
  for (int n = 0;; ++n) {
    std::string key = "k" + std::to_string(n);
    if (LaunchTable::hash(key) % LaunchTable::kBuckets == remainder &&
        skip-- == 0) {
      return key;
    }
  }
}

// Round trips.

TEST(LaunchKeyRoundTrip, MakeAndSplit) {
  EXPECT_EQ(makeLaunchKey("bank", "*", std::nullopt), "bank|||*|||");
  EXPECT_EQ(makeLaunchKey("", "m1", std::nullopt), "|||m1|||");
  EXPECT_EQ(makeLaunchKey("bank", "", std::string("alice")), "bank||||||alice");

  LaunchKeyParts parts = splitLaunchKey("bank|||obj1|||1234");
  EXPECT_EQ(parts.server, "bank");
  EXPECT_EQ(parts.marker, "obj1");
  EXPECT_EQ(parts.principal, "1234");

  parts = splitLaunchKey("bank||||||");
  EXPECT_EQ(parts.server, "bank");
  EXPECT_FALSE(parts.marker);
  EXPECT_FALSE(parts.principal);
}

TEST(LaunchTableRoundTrip, InsertFindRemove) {
  LaunchTable table;
  EXPECT_TRUE(table.insert("bank|||*|||", recordWithPort("1")));
  EXPECT_FALSE(table.insert("bank|||*|||", recordWithPort("2")));
  EXPECT_EQ(table.size(), 1u);
  ASSERT_NE(table.find("bank|||*|||"), nullptr);
  EXPECT_EQ(table.find("bank|||*|||")->port, "1");
  EXPECT_EQ(table.find("bank|||obj1|||"), nullptr);  // exact only
  std::string stored;
  ASSERT_NE(table.findMatch("bank|||obj1|||", &stored), nullptr);
  EXPECT_EQ(stored, "bank|||*|||");
  EXPECT_TRUE(table.removeFirstMatch("bank|||obj1|||"));
  EXPECT_EQ(table.size(), 0u);
  EXPECT_FALSE(table.removeFirstMatch("bank|||obj1|||"));
}

TEST(LaunchRecordRoundTrip, ProcessIdBuffer) {
  LaunchRecord record;
  record.osSpecific = processIdBuffer(123456);
  EXPECT_EQ(record.osSpecificSize(), 4u);
  EXPECT_EQ(record.processId(), 123456);
  record.osSpecific.resize(2);  // too short to hold a process id
  EXPECT_EQ(record.processId(), 0);
}

// Boundaries: hashing, bucket 0, walk order.

TEST(LaunchTableBoundary, HashUsesSignedBytesAndSkipsBucketZero) {
  EXPECT_EQ(LaunchTable::hash("a"), 99u);
  EXPECT_EQ(LaunchTable::bucketOf("a"), 99);
  EXPECT_EQ(LaunchTable::hash(""), 1u);
  EXPECT_EQ(LaunchTable::bucketOf("\xE9"), 11);  // 2 - 23, unsigned, mod 511
  EXPECT_EQ(LaunchTable::bucketOf(keyWithRemainder(0)), 1);
}

TEST(LaunchTableBoundary, WalkGoesByBucketThenChainOrder) {
  LaunchTable table;
  std::string inBucket1 = keyWithRemainder(1);
  std::string multipleOf511 = keyWithRemainder(0);
  std::string laterBucket = keyWithRemainder(200);
  ASSERT_TRUE(table.insert(laterBucket, recordWithPort("late")));
  ASSERT_TRUE(table.insert(inBucket1, recordWithPort("one")));
  ASSERT_TRUE(table.insert(multipleOf511, recordWithPort("zero")));
  EXPECT_EQ(table.keys(),
            (std::vector<std::string>{inBucket1, multipleOf511, laterBucket}));
}

TEST(LaunchTableBoundary, FirstMatchingPatternInWalkOrderWins) {
  // Two patterns match bank|||obj1|||; the one in the lower bucket wins,
  // whichever was inserted first.
  std::string a = "bank|||*|||", b = "bank|||ob*|||";
  ASSERT_NE(LaunchTable::bucketOf(a), LaunchTable::bucketOf(b));
  std::string first =
      LaunchTable::bucketOf(a) < LaunchTable::bucketOf(b) ? a : b;
  for (bool aFirst : {true, false}) {
    LaunchTable table;
    table.insert(aFirst ? a : b, recordWithPort(aFirst ? a : b));
    table.insert(aFirst ? b : a, recordWithPort(aFirst ? b : a));
    LaunchRecord* found = table.findMatch("bank|||obj1|||");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->port, first);
    ASSERT_TRUE(table.removeFirstMatch("bank|||obj1|||"));
    EXPECT_EQ(table.find(first), nullptr);
  }
}

TEST(LaunchTableBoundary, PatternsInStoredKeys) {
  LaunchTable table;
  table.insert("bank|||ob?1|||", recordWithPort("q"));
  table.insert("bank|||o[a-c]j1|||", recordWithPort("set"));
  table.insert("bank|||o[!b]j1|||", recordWithPort("neg"));
  std::vector<std::string> matching;
  for (const std::string& key : table.keys()) {
    if (patternMatches(key, "bank|||obj1|||")) matching.push_back(key);
  }
  std::sort(matching.begin(), matching.end());
  EXPECT_EQ(matching,
            (std::vector<std::string>{"bank|||o[a-c]j1|||", "bank|||ob?1|||"}));
}

TEST(LeadingIntegerBoundary, ReadsLikeAtoi) {
  EXPECT_EQ(leadingInteger("  -12abc"), -12);
  EXPECT_EQ(leadingInteger("+7"), 7);
  EXPECT_EQ(leadingInteger("alice"), 0);
  EXPECT_EQ(leadingInteger(""), 0);
  EXPECT_EQ(leadingInteger(static_cast<const char*>(nullptr)), 0);
  EXPECT_EQ(leadingInteger(std::optional<std::string>()), 0);
  EXPECT_EQ(leadingInteger("99999999999999999999"), INT32_MAX);
  EXPECT_EQ(leadingInteger("-99999999999999999999"), INT32_MIN);
}

// Error paths.

TEST(LaunchKeyError, TextWithoutSeparatorsHasNoParts) {
  for (const char* text : {"bank", "bank|||obj1", ""}) {
    LaunchKeyParts parts = splitLaunchKey(text);
    EXPECT_EQ(parts.server, "") << text;
    EXPECT_FALSE(parts.marker) << text;
    EXPECT_FALSE(parts.principal) << text;
  }
}

}  // namespace
}  // namespace talvo
