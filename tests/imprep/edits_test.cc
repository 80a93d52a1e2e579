#include <gtest/gtest.h>

#include "imprep/repository.h"
#include "temp_repository.h"

namespace talvo::imprep {
namespace {

using EditTest = TempRepositoryTest;

const std::vector<LaunchEntry> kTwoMarkers = {{"obj1", "one"}, {"obj2", "two"}};

// The text with line `from` replaced by `to`.
std::string replaced(std::string text, const std::string& from,
                     const std::string& to) {
  std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return text.replace(at, from.size(), to);
}

class EditTestWithRecords : public EditTest {
 protected:
  void SetUp() override {
    EditTest::SetUp();
    ASSERT_EQ(
        rep_->createShared("A", "bank", kTwoMarkers, kPlain, 2, 7000, false),
        nullptr);
    ASSERT_EQ(rep_->createUnshared("A", "teller", kTwoMarkers, kPrivate, false),
              nullptr);
    ASSERT_EQ(rep_->createPerMethod("A", "acct", kTwoMarkers, false), nullptr);
    ASSERT_EQ(
        rep_->createShared("all", "open", kTwoMarkers, kPlain, 1, 0, false),
        nullptr);
  }
};

// Round trips: each edit changes its one line and nothing else.
TEST_F(EditTestWithRecords, MarkerEditsTouchOnlyTheirLine) {
  const std::string original = file("bank");
  ASSERT_EQ(rep_->addMarker("A", "bank", "obj1", "new one"), nullptr);
  EXPECT_EQ(file("bank"), replaced(original, "     obj1            one\n",
                                   "     obj1 new one\n"));
  ASSERT_EQ(rep_->addMarker("A", "bank", "obj3", "three"), nullptr);
  EXPECT_EQ(file("bank"), replaced(original, "     obj1            one\n",
                                   "     obj1 new one\n") +
                              "     obj3 three\n");
  ASSERT_EQ(rep_->removeMarker("A", "bank", "obj1"), nullptr);
  ASSERT_EQ(rep_->removeMarker("A", "bank", "obj3"), nullptr);
  EXPECT_EQ(file("bank"), replaced(original, "     obj1            one\n", ""));
  std::unique_ptr<ImpRepRecord> r;
  ASSERT_EQ(rep_->readRecord("bank", &r), nullptr);
  EXPECT_EQ(r->submode(), kRoundRobinDynamic);
  EXPECT_EQ(r->nservers(), 2u);
  EXPECT_EQ(r->port(), 7000u);

  // A key equal to a word of the head leaves the head alone.
  ASSERT_EQ(rep_->addMarker("A", "teller", "Marker", "m"), nullptr);
  EXPECT_NE(file("teller").find("     Marker          Launch Command\n"),
            std::string::npos);
  ASSERT_EQ(rep_->readRecord("teller", &r), nullptr);
  EXPECT_EQ(r->launchInfo().lookup("Marker")->command, "m");

  const std::string methods = file("acct");
  ASSERT_EQ(rep_->addMethod("A", "acct", "withdraw", "w"), nullptr);
  ASSERT_EQ(rep_->removeMethod("A", "acct", "obj2"), nullptr);
  EXPECT_EQ(file("acct"), replaced(methods, "     obj2            two\n", "") +
                              "     withdraw w\n");
  ASSERT_EQ(rep_->addModeMarker("A", "bank", "m", "c", kShared), nullptr);
  ASSERT_EQ(rep_->removeModeMarker("A", "teller", "obj1", kUnshared), nullptr);
  // No temporary file stays behind.
  for (const std::string& path : tree()) {
    EXPECT_EQ(path.find(".tmp"), std::string::npos) << path;
  }
}

TEST_F(EditTestWithRecords, OwnerAndAccessListEdits) {
  const std::string original = file("bank");
  ASSERT_EQ(rep_->changeOwnerServer("A", "bank", "N"), nullptr);
  EXPECT_EQ(file("bank"),
            replaced(original, "Owner          : A\n", "Owner          : N\n"));
  EXPECT_EQ(minorOf(rep_->changeOwnerServer("A", "bank", "A")), 10126u);
  ASSERT_EQ(rep_->changeOwnerServer("N", "bank", "A"), nullptr);
  EXPECT_EQ(file("bank"), original);

  ASSERT_EQ(rep_->addLaunchRights("A", "a", "bank"), nullptr);
  ASSERT_EQ(rep_->addLaunchRights("A", "b", "bank"), nullptr);
  ASSERT_EQ(rep_->addLaunchRights("A", "b", "bank"), nullptr);
  ASSERT_EQ(rep_->addLaunchRights("A", "c", "bank"), nullptr);
  EXPECT_EQ(file("bank"), replaced(original, "Launch         : ;\n",
                                   "Launch         : ;a;b;c;\n"));
  ASSERT_EQ(rep_->removeLaunchRights("A", "b", "bank"), nullptr);
  ASSERT_EQ(rep_->removeLaunchRights("A", "zz", "bank"), nullptr);
  EXPECT_EQ(rep_->readRecordQuiet("bank")->launch(), ";a;c;");
  ASSERT_EQ(rep_->removeLaunchRights("A", "a", "bank"), nullptr);
  ASSERT_EQ(rep_->removeLaunchRights("A", "c", "bank"), nullptr);
  EXPECT_EQ(file("bank"), original);

  ASSERT_EQ(rep_->addInvokeRights("A", "u", "bank"), nullptr);
  EXPECT_EQ(file("bank"), replaced(original, "Invoke         : ;\n",
                                   "Invoke         : ;u;\n"));
  ASSERT_EQ(rep_->removeInvokeRights("A", "u", "bank"), nullptr);
  EXPECT_EQ(file("bank"), original);
  EXPECT_EQ(minorOf(rep_->addInvokeRights("B", "u", "bank")), 10126u);
  EXPECT_EQ(minorOf(rep_->addInvokeRights("A", "u;v", "bank")), 10032u);
  EXPECT_EQ(minorOf(rep_->changeOwnerServer("A", "bank", "x y")), 10032u);
  EXPECT_EQ(file("bank"), original);
}

TEST_F(EditTestWithRecords, OwnerAllAdmitsEveryone) {
  EXPECT_EQ(rep_->addMarker("anyone", "open", "m", "c"), nullptr);
  EXPECT_EQ(rep_->addLaunchRights("someone", "u", "open"), nullptr);
  EXPECT_EQ(rep_->deleteServer("whoever", "open"), nullptr);
  EXPECT_FALSE(rep_->exists("open"));
}

// Error paths, in the order the checks are made; none touches a file.
TEST_F(EditTestWithRecords, RefusedEditsLeaveFilesAlone) {
  const auto before = tree();
  const std::string bank = file("bank");
  Status s = rep_->removeMarker("A", "bank", "absent");
  EXPECT_EQ(nameOf(s), "BAD_OPERATION");
  EXPECT_EQ(minorOf(s), 10246u);
  EXPECT_EQ(s->detail(), "absent");
  EXPECT_EQ(minorOf(rep_->removeMethod("A", "acct", "absent")), 10247u);
  EXPECT_EQ(minorOf(rep_->addMarker("A", "acct", "m", "c")), 10249u);
  EXPECT_EQ(minorOf(rep_->addMethod("A", "bank", "m", "c")), 10250u);
  EXPECT_EQ(minorOf(rep_->addModeMarker("A", "bank", "m", "c", kUnshared)),
            10261u);
  EXPECT_EQ(minorOf(rep_->removeModeMarker("A", "acct", "obj1", kShared)),
            10261u);
  EXPECT_EQ(minorOf(rep_->addMarker("B", "bank", "m", "c")), 10126u);
  EXPECT_EQ(minorOf(rep_->addMarker("A", "bank", "a:b", "c")), 10030u);
  EXPECT_EQ(minorOf(rep_->addMarker("A", "bank", "m", "c\nName : x")), 10030u);
  EXPECT_EQ(minorOf(rep_->addMethod("A", "acct", "a b", "c")), 10031u);
  EXPECT_EQ(minorOf(rep_->addMarker("A", "nobank", "m", "c")), 10241u);
  EXPECT_EQ(minorOf(rep_->addMarker("A", "bank", "m", std::string(1100, 'c'))),
            10030u);
  s = rep_->deleteServer("B", "bank");
  EXPECT_EQ(nameOf(s), "NO_PERMISSION");
  EXPECT_EQ(s->detail(), "bank");
  EXPECT_EQ(tree(), before);
  EXPECT_EQ(file("bank"), bank);
}

TEST_F(EditTest, MarkerLimitIsKept) {
  std::vector<LaunchEntry> many;
  for (int i = 0; i < 511; ++i) many.push_back({"m" + std::to_string(i), "c"});
  ASSERT_EQ(rep_->createUnshared("A", "full", many, kPlain, false), nullptr);
  const std::string original = file("full");
  EXPECT_EQ(minorOf(rep_->addMarker("A", "full", "extra", "c")), 10030u);
  EXPECT_EQ(rep_->addMarker("A", "full", "m7", "other"), nullptr);
  EXPECT_NE(rep_->readRecordQuiet("full"), nullptr);
}

TEST_F(EditTest, CorruptRecordsAreNotEdited) {
  writeFile(rep_->recordPath("bad"), "Name           : bad \nComms");
  const auto before = tree();
  EXPECT_EQ(minorOf(rep_->addMarker("A", "bad", "m", "c")), 10151u);
  EXPECT_EQ(minorOf(rep_->changeOwnerServer("A", "bad", "B")), 10151u);
  EXPECT_EQ(minorOf(rep_->deleteServer("A", "bad")), 10151u);
  EXPECT_EQ(tree(), before);
}

}  // namespace
}  // namespace talvo::imprep
