// The host and group files (reading, groups, edits, saves, change test)
// and the lookUp decisions, on temporary folders.
#include <gtest/gtest.h>

#include <filesystem>

#include "locator/locator_service.h"
#include "locator_support.h"
#include "platform/files.h"

namespace talvo::locator {
namespace {

using testing::LocatorDir;
using testing::what;

Names list(const LocatorDir& d, Listing which, std::string_view name,
           std::string* status = nullptr) {
  Names out;
  bool ok = false;
  Status st = listLocator(d.options(), which, name, &out, &ok);
  if (status) *status = what(st);
  EXPECT_EQ(ok, st == nullptr);
  return out;
}

Status edit(const LocatorDir& d, Edit e, std::string_view name, Names items,
            bool* ok) {
  return editLocator(d.options(), e, name, items, ok);
}

TEST(LocatorFileTest, ReadsLineByLineAndReportsWhatItRefuses) {
  LocatorDir d;
  const std::string nul("x\0y:a:\n", 7);
  const std::string text = "bank:alpha,,beta:\n\n   \nbank alpha\nbank:x:\n" +
                           nul + std::string(520, 'l') + ":\n" +
                           "shop:a,b:g1\r\ncrlf::g1\r\nlast:h1:g2";
  ParsedText p =
      parseLocatorText(text, FileKind::kHost, "/f", d.options().diagnostics);
  ASSERT_EQ(p.entries.size(), 4u);
  EXPECT_EQ(p.entries[0].first, Names{"alpha"});  // an empty item ends it
  EXPECT_EQ(p.entries[1].name, "shop");
  EXPECT_EQ(p.entries[1].first, (Names{"a", "b"}));
  EXPECT_TRUE(p.entries[1].second.empty());  // CR is not a list character
  EXPECT_TRUE(p.entries[2].second.empty());
  EXPECT_EQ(p.entries[3].second, Names{"g2"});  // no line feed at the end
  EXPECT_EQ(p.refused.size(), 5u);
  const std::vector<std::string> expected = {
      "[talvod: Formatting error in locator file /f ]",
      "illegal character ( ), line 3 ]",
      "[talvod: Formatting error in locator file /f ]",
      "illegal character ( ), line 4 ]",
      "[talvod: Formatting error in locator file /f ]",
      "[ name repetition (bank) ]",
      "[talvod: Formatting error in locator file /f ]",
      "illegal character (\\x00), line 6 ]",
      "[talvod: Formatting error in locator file /f ]",
      "line too long, line 7 ]"};
  EXPECT_EQ(*d.lines, expected);
}

TEST(LocatorFileTest, LastLineWithoutLineFeedHasTheSameLimit) {
  // 510 characters and the line feed fit; 511 do not, with or without
  // one, so an entry read is never lost when an edit writes it back.
  LocatorDir d;
  for (const std::size_t size : {510u, 511u}) {
    const std::string line = "n:" + std::string(size - 2, 'h');
    for (const std::string& text : {line, line + "\n"}) {
      ParsedText p = parseLocatorText(text, FileKind::kGroup, "/f",
                                      d.options().diagnostics);
      EXPECT_EQ(p.entries.size(), size == 510u ? 1u : 0u) << text.size();
      EXPECT_EQ(p.refused.size(), size == 510u ? 0u : 1u) << text.size();
    }
  }
}

TEST(LocatorFileTest, GroupsResolveOnceInOrderAndRotateForLookups) {
  LocatorDir d;
  d.hosts("bank:alpha,beta:g1,g9,g2\nempty::\n");
  d.groups("g1:beta,gamma\ng2:delta,alpha:\n");
  EXPECT_EQ(list(d, Listing::kHostsInServer, "bank"),
            (Names{"alpha", "beta", "gamma", "delta"}));
  EXPECT_TRUE(d.traced("[talvod:  locator: group g9 doesn't exist ]"));
  EXPECT_EQ(list(d, Listing::kGroupsInServer, "bank"),
            (Names{"g1", "g9", "g2"}));
  std::string st;
  EXPECT_TRUE(list(d, Listing::kGroupsInServer, "empty", &st).empty());
  EXPECT_EQ(st, "LOCATOR 10523 empty");
  list(d, Listing::kHostsInGroup, "g7", &st);
  EXPECT_EQ(st, "LOCATOR 10525 g7");

  Status ignored;
  auto l = Locator::make(Locator::Files::kBoth, OpenMode::kRead, d.options(),
                         &ignored);
  EXPECT_EQ(l->serviceHosts("bank", 4 * 1000 + 1),
            (Names{"delta", "alpha", "beta", "gamma"}));
  EXPECT_TRUE(l->serviceHosts("empty", 0).empty());
  EXPECT_TRUE(l->serviceHosts("none", 0).empty());
}

TEST(LocatorEditTest, EditsEachItemAndSavesInHashOrderWithABackup) {
  LocatorDir d;
  const std::string before = "b:x:\nbank:alpha:\nbad line\n";
  d.hosts(before);
  bool ok = false;
  Status st = edit(d, Edit::kAddHostsToServer, "bank", {"alpha", "delta"}, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(what(st), "LOCATOR 10521 alpha");
  // Buckets: "bank" 38, "a" 99, "b" 100; refused lines are kept at the end.
  st = edit(d, Edit::kAddGroupsToServer, "a", {"g1"}, &ok);
  EXPECT_EQ(what(st), "success");
  EXPECT_EQ(d.dir.read("Talvo.hst"),
            "bank:alpha,delta:\na::g1\nb:x:\nbad line\n");
  EXPECT_EQ(d.dir.read("Talvo.hst.bak"), "bank:alpha,delta:\nb:x:\nbad line\n");

  st = edit(d, Edit::kDelHostsFromServer, "bank", {"alpha", "delta"}, &ok);
  EXPECT_EQ(what(st), "success");
  EXPECT_NE(d.dir.read("Talvo.hst").find("bank::\n"), std::string::npos);

  // Nothing applied: nothing written.
  const std::string now = d.dir.read("Talvo.hst");
  std::filesystem::remove(d.dir.file("Talvo.hst.bak"));
  st = edit(d, Edit::kDelHostsFromServer, "nobody", {"x", "y"}, &ok);
  EXPECT_EQ(what(st), "LOCATOR 10524 x");
  st = edit(d, Edit::kDelGroupsFromServer, "a", {"g2"}, &ok);
  EXPECT_EQ(what(st), "LOCATOR 10525 g2");
  EXPECT_FALSE(std::filesystem::exists(d.dir.file("Talvo.hst.bak")));
  EXPECT_EQ(d.dir.read("Talvo.hst"), now);

  // What would not read back is refused before the file is touched.
  st = edit(d, Edit::kAddHostsToServer, "bank", {"ok", "two words"}, &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(what(st), "LOCATOR 10521 two words");
  st = edit(d, Edit::kAddGroupsToServer, "", {"g"}, &ok);
  EXPECT_EQ(what(st), "LOCATOR 10522 ");
  EXPECT_EQ(d.dir.read("Talvo.hst"), now);

  // The group file is made when missing, and written with an empty second
  // list.
  st = edit(d, Edit::kAddHostsToGroup, "g1", {"gamma", "beta"}, &ok);
  EXPECT_EQ(what(st), "success");
  EXPECT_EQ(d.dir.read("Talvo.grp"), "g1:gamma,beta:\n");
  st = edit(d, Edit::kDelHostsFromGroup, "g1", {"beta", "beta"}, &ok);
  EXPECT_EQ(what(st), "LOCATOR 10524 beta");
  EXPECT_EQ(list(d, Listing::kHostsInGroup, "g1"), Names{"gamma"});
}

TEST(LocatorEditTest, AnInterruptedSaveLeavesTheFileWholeAndAnswersFalse) {
  for (platform::BackupStep step : {platform::BackupStep::kTemporaryWritten,
                                    platform::BackupStep::kBackupKept}) {
    LocatorDir d;
    const std::string before = "bank:alpha:\n";
    d.hosts(before);
    locator::LocatorOptions o = d.options();
    o.save_hook = [step](platform::BackupStep at) {
      return at == step ? std::make_error_code(std::errc::io_error)
                        : std::error_code();
    };
    bool ok = true;
    Status st = editLocator(o, Edit::kAddHostsToServer, "bank", {"beta"}, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(what(st), "ASCII_FILE 10543 " + d.dir.file("Talvo.hst"));
    EXPECT_EQ(d.dir.read("Talvo.hst"), before);
    // Only the file and, at most, its backup (the same content) remain.
    for (const std::string& p : d.dir.tree()) {
      EXPECT_TRUE(
          p == d.dir.file("Talvo.hst") ||
          (p == d.dir.file("Talvo.hst.bak") && testing::readFile(p) == before))
          << p;
    }
  }
}

TEST(LocatorServiceTest, ReSourcesWhenFilesChangeOrDisappear) {
  LocatorDir d;
  LocatorService s(d.options(), "alpha");
  LookUpStep step = s.lookUp("bank", 0, "", 0);
  EXPECT_EQ(what(step.failure), "INITIALIZE 10183 ");
  EXPECT_TRUE(
      d.traced("[talvod: lookup demand...bank from client with 0 hops ]"));
  EXPECT_TRUE(d.traced("[talvod: locator initialisation failed with 1 ]"));

  d.hosts("bank:alpha:g1\n");
  d.groups("g1:beta\n");
  step = s.lookUp("bank", 0, "", 0);
  EXPECT_EQ(step.hosts, (Names{"alpha", "beta"}));
  EXPECT_TRUE(step.found);

  // Same size, same second: the new inode and time tell.
  platform::writeFileAtomically(d.dir.file("Talvo.hst"), "bank:omega:g1\n");
  d.lines->clear();
  EXPECT_EQ(s.lookUp("bank", 0, "", 0).hosts, (Names{"omega", "beta"}));
  EXPECT_TRUE(d.traced("Locator database has changed, re-sourcing ]"));

  std::filesystem::remove(d.dir.file("Talvo.grp"));
  d.lines->clear();
  EXPECT_EQ(s.lookUp("bank", 0, "", 0).hosts, Names{"omega"});
  EXPECT_TRUE(d.traced("Locator database has changed, re-sourcing ]"));
  EXPECT_TRUE(d.traced(" locator: group g1 doesn't exist ]"));

  // A host file that went away is not a change; one that is unreadable
  // again after a change drops the locator.
  std::filesystem::remove(d.dir.file("Talvo.hst"));
  EXPECT_TRUE(s.lookUp("bank", 0, "", 0).found);
  std::filesystem::create_directory(d.dir.file("Talvo.hst"));
  EXPECT_EQ(what(s.lookUp("bank", 0, "", 0).failure), "INITIALIZE 10183 ");
  EXPECT_FALSE(s.loaded());
}

TEST(LocatorServiceTest, PassesUnansweredQuestionsOnWithTags) {
  LocatorDir d;
  d.hosts("QV_daemon:beta:\nbank::\n");
  LocatorService s(d.options(), "alpha");
  LookUpStep step = s.lookUp("bank", 2, "", 0);
  EXPECT_FALSE(step.found);
  ASSERT_TRUE(step.next_host);
  EXPECT_EQ(*step.next_host, "beta");
  EXPECT_EQ(step.next_hops, 1);
  EXPECT_EQ(step.next_tag, ":alpha");
  EXPECT_EQ(s.lookUp("bank", 1, "", 0).next_tag, "1:alpha");
  EXPECT_FALSE(s.lookUp("bank", 0, "", 0).next_host);
  EXPECT_EQ(s.tagCounter(), 2u);

  // Whole names: "alpha2" and "bet" are not "alpha" and "beta".
  EXPECT_EQ(s.nextTag("7:alpha2:bet", "beta"), "7:alpha2:bet:alpha");
  EXPECT_FALSE(s.nextTag("7:beta:gamma", "beta"));
  EXPECT_FALSE(s.nextTag(":gamma:alpha", "beta"));
  EXPECT_FALSE(s.lookUp("bank", 3, "4:beta", 0).next_host);
  s.setTagCounter(0xffffffffu);
  EXPECT_EQ(s.nextTag("", "beta"), "4294967295:alpha");
  EXPECT_EQ(s.tagCounter(), 1u);
}

}  // namespace
}  // namespace talvo::locator
