#include "runtime/protocol/match_pattern.h"

#include <gtest/gtest.h>

#include <string>

namespace talvo {
namespace {

constexpr MatchResult kMatch = MatchResult::kMatch;
constexpr MatchResult kNoMatch = MatchResult::kNoMatch;
constexpr MatchResult kAbandon = MatchResult::kAbandon;

// Round trips: patterns that name what they should.
TEST(MatchPatternTest, LiteralsWildcardsAndSets) {
  EXPECT_EQ(matchPattern("obj1", "obj1"), kMatch);
  EXPECT_EQ(matchPattern("obj1", "Obj1"), kNoMatch);
  EXPECT_EQ(matchPattern("*", "anything"), kMatch);
  EXPECT_EQ(matchPattern("*", ""), kMatch);
  EXPECT_EQ(matchPattern("a?c", "abc"), kMatch);
  EXPECT_NE(matchPattern("a?c", "ac"), kMatch);
  EXPECT_EQ(matchPattern("[!a]*", "bcd"), kMatch);
  EXPECT_NE(matchPattern("[!a]*", "abc"), kMatch);
  EXPECT_EQ(matchPattern("[^a]x", "bx"), kMatch);
  EXPECT_EQ(matchPattern("o[a-c]j1", "obj1"), kMatch);
  EXPECT_EQ(matchPattern("o[c-a]j1", "obj1"), kMatch);
  EXPECT_EQ(matchPattern("o[xyb]j1", "obj1"), kMatch);
  EXPECT_EQ(matchPattern("o[xy]j1", "obj1"), kNoMatch);
  EXPECT_EQ(matchPattern("bank|||*|||", "bank|||obj1|||"), kMatch);
  EXPECT_EQ(matchPattern("a*b*c", "axxbyyc"), kMatch);
  EXPECT_EQ(matchPattern("a*b*c", "axxbyy"), kAbandon);
  EXPECT_EQ(matchPattern("*[0-9]", "obj7"), kMatch);
  EXPECT_EQ(matchPattern("*?", "x"), kMatch);
  EXPECT_EQ(matchPattern("*??", "x"), kAbandon);
}

TEST(MatchPatternTest, EscapesMatchWithOrWithoutBackslashInName) {
  EXPECT_EQ(matchPattern("a\\*", "a*"), kMatch);
  EXPECT_EQ(matchPattern("a\\*", "a\\*"), kMatch);
  EXPECT_EQ(matchPattern("a\\*", "ab"), kNoMatch);
  EXPECT_EQ(matchPattern("[\\]]", "]"), kMatch);
  // The name's backslash before an escaped character is skipped, so an
  // escaped backslash stands for a doubled one in the name.
  EXPECT_EQ(matchPattern("x\\\\", "x\\\\"), kMatch);
  EXPECT_EQ(matchPattern("x\\\\", "x\\"), kNoMatch);
}

// Boundaries: empty names and patterns, trailing stars.
TEST(MatchPatternTest, EmptyAndTrailingStars) {
  EXPECT_EQ(matchPattern("", ""), kMatch);
  EXPECT_EQ(matchPattern("", "a"), kNoMatch);
  EXPECT_EQ(matchPattern("a", ""), kAbandon);
  EXPECT_EQ(matchPattern("ab*", "ab"), kMatch);
  EXPECT_EQ(matchPattern("ab*", "abc"), kMatch);
  EXPECT_EQ(matchPattern("ab**", "ab"), kAbandon);
  EXPECT_EQ(matchPattern("ab**", "abc"), kMatch);
  EXPECT_EQ(matchPattern("abc", "ab"), kAbandon);
  EXPECT_EQ(matchPattern("ab", "abc"), kNoMatch);
}

// Error paths: malformed sets abandon rather than read past the pattern.
TEST(MatchPatternTest, MalformedSetsAbandon) {
  EXPECT_EQ(matchPattern("[]", "a"), kAbandon);
  EXPECT_EQ(matchPattern("[!]", "a"), kAbandon);
  EXPECT_EQ(matchPattern("[abc", "a"), kAbandon);
  EXPECT_EQ(matchPattern("[a-]", "a"), kAbandon);
  EXPECT_EQ(matchPattern("[a-", "a"), kAbandon);
  EXPECT_EQ(matchPattern("[\\", "a"), kAbandon);
  EXPECT_EQ(matchPattern("*[]", "abc"), kAbandon);
  EXPECT_FALSE(patternMatches("[]", ""));
}

TEST(MatchPatternTest, SetsCompareSignedBytes) {
  // "\xe9" is negative as a signed byte, so it lies below "a".
  EXPECT_EQ(matchPattern("[\xe9-a]", "Z"), kMatch);
  EXPECT_EQ(matchPattern("[a-z]", "\xe9"), kNoMatch);
}

TEST(MatchPatternTest, ManyStarsStayFast) {
  std::string pattern;
  for (int i = 0; i < 30; ++i) pattern += "*a";
  pattern += "b";
  EXPECT_EQ(matchPattern(pattern, std::string(200, 'a')), kAbandon);
}

}  // namespace
}  // namespace talvo
