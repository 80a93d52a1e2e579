#include "imprep/record.h"

#include <gtest/gtest.h>

#include <string>

namespace talvo::imprep {
namespace {

const char kSharedText[] =
    "Name           : bank \n"
    "Comms          : cdr/tcp \n"
    "Activation     : shared \n"
    "Owner          : alice\n"
    "Launch         : ;\n"
    "Invoke         : ;\n"
    "ImpRep Version : 2\n"
    "no. of servers : 1\n"
    "server's port  : 0\n"
    "\n"
    "     Marker          Launch Command\n"
    "\n"
    "     obj1            bank_server -x\n"
    "     a_marker_longer_than_15 cmd\n";

const char kUnsharedText[] =
    "Name           : teller \n"
    "Comms          : xdr/tcp \n"
    "Activation     : unshared (private)\n"
    "Owner          : bob\n"
    "Launch         : ;\n"
    "Invoke         : ;\n"
    "\n"
    "     Marker          Launch Command\n"
    "\n"
    "     *               teller\n";

const char kPerMethodText[] =
    "Name           : d1\\acct \n"
    "Comms          : cdr/tcp \n"
    "Activation     : per-method\n"
    "Owner          : all\n"
    "Launch         : ;\n"
    "Invoke         : ;\n"
    "\n"
    "     Method          Launch Command\n"
    "\n"
    "     deposit         acct_dep\n";

Status parse(std::string_view text, std::unique_ptr<ImpRepRecord>* out,
             RecordLayout* layout = nullptr) {
  return parseRecord(text, "srv", "/r/srv.IMP", TraceSink(), out, layout);
}

std::uint32_t minorOf(std::string_view text) {
  std::unique_ptr<ImpRepRecord> record;
  Status s = parse(text, &record);
  EXPECT_EQ(s != nullptr, record == nullptr);
  return s ? s->minor() : 0;
}

// Round trips: the three layouts character for character, and back.
TEST(RecordFormatTest, LayoutsAreWrittenExactly) {
  RecordContent shared{
      kShared,
      kPlain,
      "bank",
      "cdr/tcp",
      "alice",
      1,
      0,
      {{"obj1", "bank_server -x"}, {"a_marker_longer_than_15", "cmd"}}};
  EXPECT_EQ(formatRecord(shared), kSharedText);
  RecordContent unshared{kUnshared, kPrivate, "teller", "xdr/tcp",
                         "bob",     1,        0,        {{"*", "teller"}}};
  EXPECT_EQ(formatRecord(unshared), kUnsharedText);
  RecordContent method{
      kPerMethod, kPlain, "d1\\acct", "cdr/tcp",
      "all",      1,      0,          {{"deposit", "acct_dep"}}};
  EXPECT_EQ(formatRecord(method), kPerMethodText);
}

TEST(RecordParseTest, EveryModeAndSubmodeReadsBack) {
  for (std::uint32_t mode : {kShared, kUnshared, kPerMethod}) {
    for (std::uint32_t sub = kPlain; sub <= kRoundRobinDynamic; ++sub) {
      RecordContent c{mode, sub, "s",  "xdr/udp",
                      "o",  3,   7001, {{"m1", "run one"}, {"m*", "run  two"}}};
      std::unique_ptr<ImpRepRecord> r;
      ASSERT_EQ(parse(formatRecord(c), &r), nullptr);
      std::uint32_t expectSub = sub;
      if (mode == kPerMethod || (mode == kUnshared && sub >= 3)) expectSub = 0;
      EXPECT_EQ(r->mode(), mode);
      EXPECT_EQ(r->submode(), expectSub) << mode << " " << sub;
      EXPECT_EQ(r->name(), "s");
      EXPECT_EQ(r->code(), "xdr");
      EXPECT_EQ(r->comms(), "udp");
      EXPECT_EQ(r->owner(), "o");
      EXPECT_EQ(r->launch(), ";");
      EXPECT_EQ(r->invoke(), ";");
      EXPECT_EQ(r->nservers(), mode == kShared ? 3u : 1u);
      EXPECT_EQ(r->port(), mode == kShared ? 7001u : 0u);
      EXPECT_EQ(r->launchInfo().lookup("m1")->command, "run one");
      EXPECT_EQ(r->launchInfo().lookup("m*")->command, "run  two");
      EXPECT_EQ(r->launchInfo().size(), 2u);
    }
  }
}

TEST(RecordParseTest, ReaderToleratesLayoutVariations) {
  std::unique_ptr<ImpRepRecord> r;
  // Column widths do not matter; blank lines among markers are skipped; a
  // marker without a command has an empty one; CR LF line ends are read.
  std::string text = kUnsharedText;
  text += "\n   lone\n  x    y z  \n";
  ASSERT_EQ(parse(text, &r), nullptr);
  EXPECT_EQ(r->launchInfo().lookup("lone")->command, "");
  EXPECT_EQ(r->launchInfo().lookup("x")->command, "y z  ");
  std::string crlf;
  for (char c : std::string(kSharedText)) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  ASSERT_EQ(parse(crlf, &r), nullptr);
  EXPECT_EQ(r->launchInfo().lookup("obj1")->command, "bank_server -x");
  // nservers 0 is stored as 1.
  std::string zero = kSharedText;
  zero.replace(zero.find("servers : 1"), 11, "servers : 0");
  ASSERT_EQ(parse(zero, &r), nullptr);
  EXPECT_EQ(r->nservers(), 1u);
  RecordLayout layout;
  ASSERT_EQ(parse(kSharedText, &r, &layout), nullptr);
  EXPECT_EQ(layout.headLines, 12u);
  ASSERT_EQ(parse(kPerMethodText, &r, &layout), nullptr);
  EXPECT_EQ(layout.headLines, 9u);
}

// Boundaries: the limits of the format.
TEST(RecordParseTest, Limits) {
  std::string text = kUnsharedText;
  for (int i = 1; i < 511; ++i) text += "     m" + std::to_string(i) + " c\n";
  EXPECT_EQ(minorOf(text), 0u);
  EXPECT_EQ(minorOf(text + "     one_too_many c\n"), 10151u);
  EXPECT_EQ(minorOf(std::string(kUnsharedText) + "     m " +
                    std::string(1016, 'c') + "\n"),
            0u);  // 1023 characters
  EXPECT_EQ(minorOf(std::string(kUnsharedText) + "     m " +
                    std::string(1017, 'c') + "\n"),
            10142u);
  std::string longName = kSharedText;
  longName.replace(17, 4, std::string(381, 'n'));  // 399 characters
  EXPECT_EQ(minorOf(longName), 0u);
  longName.insert(17, "n");
  EXPECT_EQ(minorOf(longName), 10142u);
}

// Error paths.
TEST(RecordParseTest, MalformedRecordsAreRefused) {
  auto change = [](std::string text, std::string_view from,
                   std::string_view to) {
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  EXPECT_EQ(minorOf(std::string(" ") + kSharedText), 10142u);
  EXPECT_EQ(minorOf(change(kSharedText, "Version : 2", "Version : 3")), 10151u);
  EXPECT_EQ(
      minorOf(change(kSharedText, "Comms          :", "Comms           ")),
      10142u);
  EXPECT_EQ(minorOf(change(kSharedText, "cdr/tcp", "cdr")), 10142u);
  EXPECT_EQ(minorOf(change(kSharedText, "alice", "")), 10142u);
  EXPECT_EQ(minorOf(change(kSharedText, "no. of", "number of")), 10142u);
  EXPECT_EQ(
      minorOf(change(kSharedText, "server's port  :", "server's port   ")),
      10142u);
  EXPECT_EQ(minorOf(change(kSharedText, "bank \n", std::string("ba\0k \n", 6))),
            10142u);
  std::unique_ptr<ImpRepRecord> r;
  Status s = parse(change(kSharedText, ": shared", ": sharing"), &r);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->minor(), 10150u);
  EXPECT_EQ(s->detail(), "sharing");
  s = parse("Name : x \n", &r);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->minor(), 10151u);
  EXPECT_EQ(s->detail(),
            "(The server name is 'srv'. The Full path of the record is "
            "'/r/srv.IMP'. This file may have been corrupted externally. Try "
            "removing it and re-entering it in the implementation "
            "repository)");
  EXPECT_EQ(s->bareName(), "INTERNAL");
}

TEST(RecordParseTest, EveryTruncationIsRefusedOrReadWhole) {
  for (const char* whole : {kSharedText, kUnsharedText, kPerMethodText}) {
    std::string text = whole;
    for (std::size_t n = 0; n < text.size(); ++n) {
      std::unique_ptr<ImpRepRecord> r;
      Status s = parse(text.substr(0, n), &r);
      if (n > 0 && text[n - 1] == '\n' && s == nullptr) continue;
      ASSERT_NE(s, nullptr) << n;
      EXPECT_TRUE(s->minor() == 10151u || s->minor() == 10142u) << n;
    }
  }
}

}  // namespace
}  // namespace talvo::imprep
