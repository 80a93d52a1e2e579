#include "runtime/except/catalogue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace talvo {
namespace {

using testing::TempDir;

std::string text(ErrorCatalogue::Entries& entries, int code) {
  return entries.count(code) ? entries.at(code) : "<absent>";
}

// Round trips: what a file says is what a lookup gives.

TEST(CatalogueRoundTrips, EntriesAndFormatting) {
  TempDir dir;
  ErrorCatalogue catalogue(dir.write("Talvo.err",
                                     "# errors\n"
                                     "10020 Bad parameter.\n"
                                     "10032\tServer name %s is not valid.\n"
                                     "10040 %s and %s and %s\n"));
  ASSERT_TRUE(catalogue.load());
  EXPECT_EQ(catalogue.text(10020, 0), "Bad parameter.");
  EXPECT_EQ(catalogue.text(10020, 12, "bank"),
            "Server name bank is not valid.");
  EXPECT_EQ(catalogue.text(10020, 12),
            "Server name [no value available] is "
            "not valid.");
  EXPECT_EQ(catalogue.text(10040, 0, "a", "b", "c"), "a and b and c");
  // Missing arguments fill in as empty strings.
  EXPECT_EQ(catalogue.text(10040, 0, "a"), "a and  and ");
  EXPECT_EQ(catalogue.format(10032), "Server name %s is not valid.");
}

TEST(CatalogueRoundTrips, ContinuationAndBackslashes) {
  auto entries = ErrorCatalogue::parse(
      "first line\n"
      "1 two\\\nlines\n"
      "2 C:\\path\\name\n"
      "3 ends with \\\\\n4 \\\n10 last\\");
  EXPECT_EQ(text(entries, 1), "two\nlines");
  EXPECT_EQ(text(entries, 2), "C:\\path\\name");
  // The second backslash is read normally and continues the line.
  EXPECT_EQ(text(entries, 3), "ends with \\\n4 \n10 last\\");
  EXPECT_EQ(entries.size(), 3u);
}

// Boundaries of the file format.

TEST(CatalogueBoundaries, OnlyEntryOnTheFirstLineIsNoEntry) {
  TempDir dir;
  ErrorCatalogue catalogue(dir.write("e", "10020 Bad parameter.\n"));
  EXPECT_EQ(catalogue.text(10020, 0), "Unknown Error Code: 10020");
  EXPECT_TRUE(catalogue.loaded());
}

TEST(CatalogueBoundaries, TextIsCutAt511AndTheLineSkipped) {
  const std::string long_text(600, 'a');
  auto entries = ErrorCatalogue::parse(
      "\n1 " + long_text + "\n2 next\n" + "3 " + std::string(511, 'b') + "\n" +
      "4 " + std::string(511, 'c') + "\\\n5 continued");
  EXPECT_EQ(text(entries, 1), std::string(511, 'a'));
  EXPECT_EQ(text(entries, 2), "next");
  EXPECT_EQ(text(entries, 3), std::string(511, 'b'));
  // A continuation after the cut is part of the skipped rest of the line,
  // and the next line is read on its own.
  EXPECT_EQ(text(entries, 4), std::string(511, 'c'));
  EXPECT_EQ(text(entries, 5), "continued");
}

TEST(CatalogueBoundaries, DuplicateCodesKeepTheFirst) {
  TempDir dir;
  ErrorCatalogue catalogue(
      dir.write("e", "\n7 first\n7 second\n8\n8 later\n0007 third\n"));
  EXPECT_EQ(catalogue.format(7), "first");
  // An empty first entry still wins, and counts as no text.
  EXPECT_EQ(catalogue.format(8), "Unknown Error Code: 8");
  EXPECT_EQ(catalogue.text(8, 0), "Unknown Error Code: 8");
}

TEST(CatalogueBoundaries, CodesBeyond32BitsWrapLikeMinorCodes) {
  auto entries = ErrorCatalogue::parse("\n4294967295 max\n4294967296 zero\n");
  EXPECT_EQ(text(entries, -1), "max");
  EXPECT_EQ(text(entries, 0), "zero");
  TempDir dir;
  ErrorCatalogue catalogue(dir.write("e", "\n4294967295 max\n"));
  EXPECT_EQ(catalogue.text(4294967280u, 15), "max");
}

TEST(CatalogueBoundaries, FormattedTextIsCutToTheBuffer) {
  TempDir dir;
  ErrorCatalogue catalogue(dir.write("e", "\n1 %s%s%s\n"));
  const std::string big(3000, 'x');
  const std::string result =
      catalogue.text(0, 1, big.c_str(), big.c_str(), big.c_str());
  EXPECT_EQ(result, std::string(ErrorCatalogue::kMaxTextLength, 'x'));
}

// Malformed files: every kind of bad line, and hostile formats.

TEST(CatalogueErrors, MalformedLinesLoadWhatTheyCan) {
  auto entries = ErrorCatalogue::parse(
      "1 the first line is a comment even when it looks like an entry\n"
      "\n"
      "   10 indented lines are skipped\n"
      "-11 so are signed ones\n"
      "# 12 and comments\n"
      "13\n"
      "14:::\t \n"
      "15 good\n"
      "\t16 tab first\n"
      "17 \\\n"
      "18 is inside 17's text\n"
      "19 \\x stays\n"
      "10621:  No value.\n"
      "10622 \t::\t x: y\n"
      "10623x\n"
      "20 no newline at the end");
  EXPECT_EQ(text(entries, 1), "<absent>");
  EXPECT_EQ(text(entries, 10), "<absent>");
  EXPECT_EQ(text(entries, 11), "<absent>");
  EXPECT_EQ(text(entries, 12), "<absent>");
  EXPECT_EQ(text(entries, 13), "");
  EXPECT_EQ(text(entries, 14), "");
  EXPECT_EQ(text(entries, 15), "good");
  EXPECT_EQ(text(entries, 16), "<absent>");
  EXPECT_EQ(text(entries, 17), "\n18 is inside 17's text");
  EXPECT_EQ(text(entries, 18), "<absent>");
  EXPECT_EQ(text(entries, 19), "\\x stays");
  // Separators before the text: blanks, tabs and colons.
  EXPECT_EQ(text(entries, 10621), "No value.");
  EXPECT_EQ(text(entries, 10622), "x: y");
  EXPECT_EQ(text(entries, 10623), "x");
  EXPECT_EQ(text(entries, 20), "no newline at the end");
}

TEST(CatalogueErrors, HostileFormatsAreText) {
  const std::vector<std::string_view> one = {"A"};
  EXPECT_EQ(formatMessage("%d %n %p %x %c %.*s %5$s %", one),
            "%d %n %p %x %c %.*s %5$s %");
  EXPECT_EQ(formatMessage("100%% %s %s %s %s", one), "100% A   ");
  EXPECT_EQ(formatMessage("[%5s|%-3s|%.1s]",
                          std::vector<std::string_view>{"ab", "c", "xyz"}),
            "[   ab|c  |x]");
  // Widths are bounded by the buffer, however large they are written.
  EXPECT_EQ(formatMessage("%99999999999999999999s", one).size(),
            ErrorCatalogue::kMaxTextLength);
  EXPECT_EQ(formatMessage("%%%", {}), "%%");
}

TEST(CatalogueErrors, UnavailableCatalogueAndRetry) {
  TempDir dir;
  const std::string path = dir.file("Talvo.err");
  ErrorCatalogue catalogue(path);
  EXPECT_FALSE(catalogue.load());
  EXPECT_EQ(catalogue.text(10620, 0), "Error - Invalid errors file: " + path);
  EXPECT_EQ(catalogue.text(10620, 1, "x"), "");
  EXPECT_EQ(catalogue.format(10620), "Unknown Error Code: 10620");
  // The next use tries again and finds the file.
  dir.write("Talvo.err", "\n10620 No configuration value.\n");
  EXPECT_EQ(catalogue.text(10620, 0), "No configuration value.");
  // Once loaded it is never read again.
  dir.write("Talvo.err", "\n10620 Changed.\n");
  EXPECT_EQ(catalogue.text(10620, 0), "No configuration value.");
}

TEST(CatalogueErrors, NoPathOrADirectory) {
  ErrorCatalogue none(std::nullopt);
  EXPECT_EQ(none.text(10000, 0), "Error - No error file specified.");
  ErrorCatalogue empty(std::string{});
  EXPECT_EQ(empty.text(10000, 0), "Error - No error file specified.");
  TempDir dir;
  ErrorCatalogue directory(dir.path());
  EXPECT_FALSE(directory.load());
  EXPECT_EQ(directory.text(10000, 0),
            "Error - Invalid errors file: " + dir.path());
}

}  // namespace
}  // namespace talvo
