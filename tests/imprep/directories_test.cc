#include <gtest/gtest.h>

#include "imprep/repository.h"
#include "temp_repository.h"

namespace talvo::imprep {
namespace {

using DirectoryTest = TempRepositoryTest;

const std::vector<LaunchEntry> kOneMarker = {{"obj1", "server"}};

TEST_F(DirectoryTest, OwnerFileAndDirectoryRights) {
  ASSERT_EQ(rep_->newDirectory("A", "d1"), nullptr);
  EXPECT_EQ(readFile(root_ + "/d1/OWNER"), ";A;");
  EXPECT_TRUE(rep_->hasDirRights("d1", "A"));
  EXPECT_FALSE(rep_->hasDirRights("d1", "B"));
  EXPECT_FALSE(rep_->hasDirRights("d1", ""));
  EXPECT_FALSE(rep_->hasDirRights("nodir", "A"));
  ASSERT_EQ(rep_->addDirRights("A", "B", "d1"), nullptr);
  ASSERT_EQ(rep_->addDirRights("A", "B", "d1"), nullptr);
  EXPECT_EQ(readFile(root_ + "/d1/OWNER"), ";A;B;");
  EXPECT_TRUE(rep_->hasDirRights("d1", "B"));
  EXPECT_EQ(minorOf(rep_->addDirRights("C", "C", "d1")), 10127u);
  // Removing the owner entry makes the next entry the owner.
  ASSERT_EQ(rep_->removeDirRights("B", "A", "d1"), nullptr);
  EXPECT_EQ(readFile(root_ + "/d1/OWNER"), ";B;");
  EXPECT_FALSE(rep_->hasDirRights("d1", "A"));

  // Servers in a directory need rights on it; the top level needs none.
  Status s =
      rep_->createShared("C", "d1\\srv", kOneMarker, kPlain, 1, 0, false);
  EXPECT_EQ(nameOf(s), "NO_PERMISSION");
  EXPECT_EQ(minorOf(s), 10127u);
  EXPECT_EQ(s->detail(), "d1");
  EXPECT_EQ(rep_->createShared("C", "srv", kOneMarker, kPlain, 1, 0, false),
            nullptr);
  EXPECT_EQ(rep_->createShared("B", "d1\\srv", kOneMarker, kPlain, 1, 0, false),
            nullptr);
  EXPECT_EQ(
      rep_->createShared("B", "d1/other", kOneMarker, kPlain, 1, 0, false),
      nullptr);
  s = rep_->createShared("B", "d9\\srv", kOneMarker, kPlain, 1, 0, false);
  EXPECT_EQ(minorOf(s), 10254u);
  EXPECT_EQ(s->detail(), "d9");
}

TEST_F(DirectoryTest, NewDirectoryChecks) {
  ASSERT_EQ(rep_->newDirectory("A", "d1"), nullptr);
  EXPECT_EQ(minorOf(rep_->newDirectory("A", "d1")), 10253u);
  ASSERT_EQ(rep_->createShared("A", "srv", kOneMarker, kPlain, 1, 0, false),
            nullptr);
  EXPECT_EQ(minorOf(rep_->newDirectory("A", "srv.IMP")), 10253u);
  Status s = rep_->newDirectory("A", "d2\\sub");
  EXPECT_EQ(minorOf(s), 10254u);
  EXPECT_EQ(s->detail(), "d2");
  EXPECT_EQ(minorOf(rep_->newDirectory("B", "d1\\sub")), 10127u);
  ASSERT_EQ(rep_->newDirectory("A", "d1\\sub"), nullptr);
  EXPECT_EQ(readFile(root_ + "/d1/sub/OWNER"), ";A;");
  const auto before = tree();
  for (const char* name : {"/abs", "\\abs", "..", "d1\\..\\..\\x", "../x",
                           "d1\\\\x", "a:b", "tab\there", ""}) {
    EXPECT_EQ(minorOf(rep_->newDirectory("A", name)), 10033u) << name;
    EXPECT_EQ(minorOf(rep_->deleteDirectory("A", name, true)), 10033u);
    EXPECT_EQ(minorOf(rep_->changeOwnerDir("A", name, "B")), 10033u);
    EXPECT_EQ(minorOf(rep_->addDirRights("A", "B", name)), 10033u);
    EXPECT_EQ(minorOf(rep_->addLaunchRightsDir("A", "B", name)), 10033u);
    std::vector<std::string> list;
    if (*name) {
      EXPECT_EQ(minorOf(rep_->listServers(name, &list)), 10033u);
    }
  }
  EXPECT_EQ(minorOf(rep_->newDirectory("a;b", "d3")), 10033u);
  EXPECT_EQ(minorOf(rep_->addDirRights("A", "x;y", "d1")), 10033u);
  EXPECT_EQ(minorOf(rep_->changeOwnerDir("A", "d1", "x\ny")), 10033u);
  EXPECT_EQ(tree(), before);
}

TEST_F(DirectoryTest, ListServers) {
  ASSERT_EQ(rep_->createShared("A", "bank", kOneMarker, kPlain, 1, 0, false),
            nullptr);
  ASSERT_EQ(rep_->newDirectory("A", "d1"), nullptr);
  ASSERT_EQ(
      rep_->createShared("A", "d1\\inner", kOneMarker, kPlain, 1, 0, false),
      nullptr);
  writeFile(root_ + "/notes.txt", "x");
  writeFile(root_ + "/a.IMP.IMP", "x");
  writeFile(root_ + "/portsList", "x");
  std::vector<std::string> list;
  ASSERT_EQ(rep_->listServers("", &list), nullptr);
  EXPECT_EQ(list, (std::vector<std::string>{"bank", "d1 -dir-"}));
  ASSERT_EQ(rep_->listServers("d1", &list), nullptr);
  EXPECT_EQ(list, (std::vector<std::string>{"inner"}));
  Status s = rep_->listServers("d2", &list);
  EXPECT_EQ(minorOf(s), 10254u);
  EXPECT_EQ(s->detail(), "d2");
  std::unique_ptr<ImpRepository> gone;
  ASSERT_EQ(ImpRepository::create(root_.c_str(), &gone), nullptr);
  std::filesystem::remove_all(root_);
  s = gone->listServers("", &list);
  EXPECT_EQ(minorOf(s), 10157u);
  EXPECT_EQ(s->detail(), root_);
  EXPECT_EQ(
      minorOf(gone->createShared("A", "x", kOneMarker, kPlain, 1, 0, false)),
      10157u);
}

TEST_F(DirectoryTest, DeleteDirectory) {
  ASSERT_EQ(rep_->newDirectory("A", "d1"), nullptr);
  ASSERT_EQ(rep_->newDirectory("A", "d1\\a"), nullptr);
  ASSERT_EQ(
      rep_->createShared("A", "d1\\a\\s1", kOneMarker, kPlain, 1, 0, false),
      nullptr);
  ASSERT_EQ(rep_->addDirRights("A", "B", "d1"), nullptr);
  ASSERT_EQ(rep_->createShared("B", "d1\\b", kOneMarker, kPlain, 1, 0, false),
            nullptr);
  ASSERT_EQ(rep_->createShared("A", "d1\\c", kOneMarker, kPlain, 1, 0, false),
            nullptr);
  const auto before = tree();
  Status s = rep_->deleteDirectory("A", "d1", false);
  EXPECT_EQ(minorOf(s), 10256u);
  EXPECT_EQ(tree(), before);
  EXPECT_EQ(minorOf(rep_->deleteDirectory("C", "d1", true)), 10127u);
  EXPECT_EQ(minorOf(rep_->deleteDirectory("A", "d2", true)), 10254u);
  // The whole tree is checked first: b, which A does not own, keeps every
  // entry in place.
  s = rep_->deleteDirectory("A", "d1", true);
  EXPECT_EQ(minorOf(s), 10126u);
  EXPECT_EQ(s->detail(), "d1\\b");
  EXPECT_EQ(tree(), before);
  ASSERT_EQ(rep_->deleteServer("B", "d1\\b"), nullptr);
  ASSERT_EQ(rep_->deleteDirectory("A", "d1", true), nullptr);
  EXPECT_FALSE(std::filesystem::exists(root_ + "/d1"));
  // A file the repository did not make is not removed unasked, and the
  // directory stays whole: it can still be changed, and deleted once the
  // file is gone.
  ASSERT_EQ(rep_->newDirectory("A", "d3"), nullptr);
  writeFile(root_ + "/d3/stray", "x");
  s = rep_->deleteDirectory("A", "d3", false);
  EXPECT_EQ(minorOf(s), 10154u);
  EXPECT_EQ(s->detail(), root_ + "/d3/stray");
  EXPECT_EQ(rep_->addDirRights("A", "B", "d3"), nullptr);
  std::filesystem::remove(root_ + "/d3/stray");
  EXPECT_EQ(rep_->deleteDirectory("A", "d3", false), nullptr);
  EXPECT_FALSE(std::filesystem::exists(root_ + "/d3"));
}

TEST_F(DirectoryTest, ChangeOwnerDirWalksAndStops) {
  ASSERT_EQ(rep_->newDirectory("A", "d1"), nullptr);
  ASSERT_EQ(rep_->addDirRights("A", "B", "d1"), nullptr);
  ASSERT_EQ(rep_->newDirectory("A", "d1\\a"), nullptr);
  ASSERT_EQ(
      rep_->createShared("A", "d1\\a\\s", kOneMarker, kPlain, 1, 0, false),
      nullptr);
  ASSERT_EQ(rep_->createShared("B", "d1\\b", kOneMarker, kPlain, 1, 0, false),
            nullptr);
  ASSERT_EQ(rep_->createShared("A", "d1\\c", kOneMarker, kPlain, 1, 0, false),
            nullptr);
  Status s = rep_->changeOwnerDir("A", "d1", "N");
  EXPECT_EQ(minorOf(s), 10126u);
  EXPECT_EQ(s->detail(), "d1\\b");
  // d1, d1\a and its server changed before the walk stopped; c did not.
  EXPECT_EQ(readFile(root_ + "/d1/OWNER"), ";N;");
  EXPECT_EQ(readFile(root_ + "/d1/a/OWNER"), ";N;");
  EXPECT_EQ(rep_->readRecordQuiet("d1\\a\\s")->owner(), "N");
  EXPECT_EQ(rep_->readRecordQuiet("d1\\c")->owner(), "A");
  EXPECT_TRUE(rep_->hasDirRights("d1", "N"));
  EXPECT_FALSE(rep_->hasDirRights("d1", "A"));
  EXPECT_FALSE(rep_->hasDirRights("d1", "B"));
}

TEST_F(DirectoryTest, AccessListsOfADirectory) {
  ASSERT_EQ(rep_->newDirectory("A", "d1"), nullptr);
  ASSERT_EQ(rep_->newDirectory("A", "d1\\sub"), nullptr);
  ASSERT_EQ(rep_->createShared("A", "d1\\a", kOneMarker, kPlain, 1, 0, false),
            nullptr);
  ASSERT_EQ(
      rep_->createShared("A", "d1\\sub\\deep", kOneMarker, kPlain, 1, 0, false),
      nullptr);
  ASSERT_EQ(rep_->addLaunchRightsDir("A", "u1", "d1"), nullptr);
  ASSERT_EQ(rep_->addInvokeRightsDir("A", "u2", "d1"), nullptr);
  EXPECT_EQ(rep_->readRecordQuiet("d1\\a")->launch(), ";u1;");
  EXPECT_EQ(rep_->readRecordQuiet("d1\\a")->invoke(), ";u2;");
  EXPECT_EQ(rep_->readRecordQuiet("d1\\sub\\deep")->launch(), ";");
  ASSERT_EQ(rep_->removeLaunchRightsDir("A", "u1", "d1"), nullptr);
  ASSERT_EQ(rep_->removeInvokeRightsDir("A", "u2", "d1"), nullptr);
  EXPECT_EQ(rep_->readRecordQuiet("d1\\a")->launch(), ";");
  EXPECT_EQ(rep_->readRecordQuiet("d1\\a")->invoke(), ";");
  // The walk stops at the first server the caller does not own.
  ASSERT_EQ(rep_->addDirRights("A", "B", "d1"), nullptr);
  ASSERT_EQ(rep_->createShared("B", "d1\\b", kOneMarker, kPlain, 1, 0, false),
            nullptr);
  ASSERT_EQ(rep_->createShared("A", "d1\\c", kOneMarker, kPlain, 1, 0, false),
            nullptr);
  EXPECT_EQ(minorOf(rep_->addLaunchRightsDir("A", "u1", "d1")), 10126u);
  EXPECT_EQ(rep_->readRecordQuiet("d1\\a")->launch(), ";u1;");
  EXPECT_EQ(rep_->readRecordQuiet("d1\\c")->launch(), ";");
  EXPECT_EQ(minorOf(rep_->addLaunchRightsDir("C", "u1", "d1")), 10127u);
}

}  // namespace
}  // namespace talvo::imprep
