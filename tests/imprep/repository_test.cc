#include "imprep/repository.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "temp_repository.h"

namespace talvo::imprep {
namespace {

using RepositoryTest = TempRepositoryTest;

const std::vector<LaunchEntry> kMarkers = {
    {"obj1", "bank_server -a"}, {"obj*", "bank_server -b"}, {"zeta", "z"}};

// Names that would leave the root or break a path, each refused.
const char* const kEscapes[] = {"..\\outside",
                                "../outside",
                                "/etc/passwd",
                                "\\abs",
                                "a\\..\\..\\x",
                                "a//b",
                                "a\\\\b",
                                "a\\.\\b",
                                ".",
                                "..",
                                "",
                                "c:x",
                                "new\nline",
                                "a\\"};

// Start-up: the three ways creating the repository fails.
TEST(RepositoryStartTest, RootMustBeADirectory) {
  std::unique_ptr<ImpRepository> rep;
  Status s = ImpRepository::create(nullptr, &rep);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->minor(), 10144u);
  EXPECT_FALSE(s->detail());
  s = ImpRepository::create("/nonexistent/imprep/root", &rep);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->minor(), 10148u);
  EXPECT_EQ(s->detail(), "/nonexistent/imprep/root");
  s = ImpRepository::create("/dev/null", &rep);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->minor(), 10149u);
  EXPECT_EQ(rep, nullptr);
}

TEST_F(RepositoryTest, RootLosesOneTrailingSeparator) {
  std::unique_ptr<ImpRepository> rep;
  ASSERT_EQ(ImpRepository::create((root_ + "/").c_str(), &rep), nullptr);
  EXPECT_EQ(rep->root(), root_);
  EXPECT_EQ(rep->recordPath("d1\\bank"), root_ + "/d1/bank.IMP");
}

// Round trips: what the create operations write reads back equal.
TEST_F(RepositoryTest, CreatedRecordsReadBackEqual) {
  ASSERT_EQ(rep_->createShared("alice", "bank", kMarkers, kPlain, 1, 0, false),
            nullptr);
  ASSERT_EQ(
      rep_->createUnshared("bob", "teller", kMarkers, kPrivatePerPid, false),
      nullptr);
  ASSERT_EQ(rep_->createPerMethod("carol", "acct", kMarkers, false), nullptr);
  struct Want {
    const char* name;
    const char* owner;
    std::uint32_t mode, submode;
  };
  for (Want w : {Want{"bank", "alice", kShared, kPlain},
                 Want{"teller", "bob", kUnshared, kPrivatePerPid},
                 Want{"acct", "carol", kPerMethod, kPlain}}) {
    std::unique_ptr<ImpRepRecord> r;
    ASSERT_EQ(rep_->readRecord(w.name, &r), nullptr) << w.name;
    EXPECT_EQ(r->name(), w.name);
    EXPECT_EQ(r->owner(), w.owner);
    EXPECT_EQ(r->mode(), w.mode);
    EXPECT_EQ(r->submode(), w.submode);
    EXPECT_EQ(r->launch() + r->invoke(), ";;");
    SharedLaunchInfo expected(kPlain);
    for (const LaunchEntry& e : kMarkers) expected.add(e.key, e.command);
    EXPECT_EQ(r->launchInfo().list(), expected.list());
  }
  EXPECT_TRUE(rep_->exists("bank"));
  EXPECT_FALSE(rep_->exists("nobank"));
  EXPECT_FALSE(rep_->exists("..\\root\\bank"));
  // Marker lines appear in the order given.
  std::string text = file("bank");
  EXPECT_LT(text.find("obj1"), text.find("obj*"));
  EXPECT_LT(text.find("obj*"), text.find("zeta"));
}

TEST_F(RepositoryTest, SubmodeAndProtocolTextFollowServersAndLegacy) {
  ASSERT_EQ(rep_->createShared("u", "rr", kMarkers, kPrivate, 3, 7000, false),
            nullptr);
  EXPECT_NE(file("rr").find("Activation     : shared Round robin (dynamic "
                            "start)\n"),
            std::string::npos);
  ASSERT_EQ(rep_->createShared("u", "pre", kMarkers, kRoundRobinPrestart, 3,
                               7000, false),
            nullptr);
  std::unique_ptr<ImpRepRecord> r;
  ASSERT_EQ(rep_->readRecord("pre", &r), nullptr);
  EXPECT_EQ(r->submode(), kRoundRobinPrestart);
  EXPECT_EQ(r->nservers(), 3u);
  EXPECT_EQ(r->port(), 7000u);
  // The protocol text follows the legacy flag and a BEL in the name.
  ASSERT_EQ(rep_->createShared("u", "old\a", kMarkers, kPlain, 1, 0, false),
            nullptr);
  ASSERT_EQ(rep_->createUnshared("u", "flag", kMarkers, kPlain, true), nullptr);
  ASSERT_EQ(rep_->createPerMethod("u", "new", kMarkers, false), nullptr);
  EXPECT_NE(file("old").find("Comms          : xdr/tcp \n"), std::string::npos);
  EXPECT_NE(file("flag").find("Comms          : xdr/tcp \n"),
            std::string::npos);
  EXPECT_NE(file("new").find("Comms          : cdr/tcp \n"), std::string::npos);
}

TEST_F(RepositoryTest, DisplayForm) {
  ASSERT_EQ(rep_->createShared("alice", "bank", kMarkers, kPlain, 1, 0, false),
            nullptr);
  std::unique_ptr<ImpRepRecord> r;
  ASSERT_EQ(rep_->readRecord("bank", &r), nullptr);
  std::ostringstream out;
  ImpRepository::displayRecord(out, *r);
  EXPECT_EQ(
      out.str().substr(0, out.str().rfind("Launch table")),
      "\n\nServer             :  bank                         owner:alice\n"
      "Launch Rights ACL  :  ;\n"
      "Invoke Rights ACL  :  ;\n"
      "Configuration      :  cdr/tcp\n");
}

TEST_F(RepositoryTest, CreateOverwritesOnlyUnreadableRecords) {
  ASSERT_EQ(rep_->createShared("u", "bank", kMarkers, kPlain, 1, 0, false),
            nullptr);
  Status s = rep_->createUnshared("u", "bank", kMarkers, kPlain, false);
  EXPECT_EQ(minorOf(s), 10248u);
  EXPECT_EQ(s->detail(), "bank");
  writeFile(rep_->recordPath("bank"), "garbage");
  EXPECT_EQ(rep_->readRecordQuiet("bank"), nullptr);
  ASSERT_EQ(rep_->createUnshared("u", "bank", kMarkers, kPlain, false),
            nullptr);
  EXPECT_NE(rep_->readRecordQuiet("bank"), nullptr);
}

// Error paths of reading.
TEST_F(RepositoryTest, ReadFailures) {
  std::unique_ptr<ImpRepRecord> r;
  Status s = rep_->readRecord("absent", &r);
  EXPECT_EQ(nameOf(s), "BAD_OPERATION");
  EXPECT_EQ(minorOf(s), 10241u);
  EXPECT_EQ(s->detail(), "absent");
  std::filesystem::create_directory(root_ + "/dir.IMP");
  s = rep_->readRecord("dir", &r);
  EXPECT_EQ(minorOf(s), 10152u);
  EXPECT_NE(s->detail()->find(" The server name is `dir'.\n The full path of "
                              "the record is `" +
                              root_ +
                              "/dir.IMP'.\n The reason for the error "
                              "is `"),
            std::string::npos);
  if (::geteuid() != 0) {  // root reads everything
    ASSERT_EQ(rep_->createShared("u", "locked", kMarkers, kPlain, 1, 0, false),
              nullptr);
    std::filesystem::permissions(rep_->recordPath("locked"),
                                 std::filesystem::perms::none);
    s = rep_->readRecord("locked", &r);
    EXPECT_EQ(minorOf(s), 10158u);
    EXPECT_EQ(s->detail(), rep_->recordPath("locked"));
  }
  ASSERT_EQ(::mkfifo(rep_->recordPath("fifo").c_str(), 0600), 0);
  EXPECT_EQ(minorOf(rep_->readRecord("fifo", &r)), 10152u);
  writeFile(rep_->recordPath("huge"), std::string(2 << 20, 'x'));
  EXPECT_EQ(minorOf(rep_->readRecord("huge", &r)), 10151u);
  EXPECT_EQ(r, nullptr);
}

TEST_F(RepositoryTest, UnsafeNamesAndTextsAreRefusedBeforeAnyFile) {
  writeFile(base_ + "/outside.IMP", "Name : outside \n");
  const auto before = tree();
  std::unique_ptr<ImpRepRecord> r;
  for (const char* name : kEscapes) {
    EXPECT_EQ(minorOf(rep_->readRecord(name, &r)), 10032u) << name;
    EXPECT_EQ(
        minorOf(rep_->createShared("u", name, kMarkers, kPlain, 1, 0, false)),
        10032u)
        << name;
    EXPECT_EQ(minorOf(rep_->deleteServer("u", name)), 10032u) << name;
    EXPECT_EQ(minorOf(rep_->addMarker("u", name, "m", "c")), 10032u) << name;
    EXPECT_EQ(minorOf(rep_->changeOwnerServer("u", name, "v")), 10032u) << name;
    EXPECT_EQ(minorOf(rep_->addLaunchRights("u", "v", name)), 10032u) << name;
  }
  auto create = [&](std::vector<LaunchEntry> entries, bool method) {
    return method ? rep_->createPerMethod("u", "s", entries, false)
                  : rep_->createUnshared("u", "s", entries, kPlain, false);
  };
  for (bool method : {false, true}) {
    const std::uint32_t minor = method ? 10031 : 10030;
    for (const char* key : {"a:b", "a b", "a\nb", "", "a\tb"}) {
      Status s = create({{"ok", "c"}, {key, "c"}}, method);
      EXPECT_EQ(minorOf(s), minor) << key;
      EXPECT_EQ(s->detail(), key);
    }
    EXPECT_EQ(minorOf(create({{"ok", "run\nName : x"}}, method)), minor);
    EXPECT_EQ(minorOf(create({{"ok", std::string(1100, 'c')}}, method)), minor);
    std::vector<LaunchEntry> many;
    for (int i = 0; i < 512; ++i)
      many.push_back({"m" + std::to_string(i), "c"});
    EXPECT_EQ(minorOf(create(many, method)), minor);
  }
  for (const char* owner : {"a;b", "a b", "a\n", ""}) {
    EXPECT_EQ(
        minorOf(rep_->createShared(owner, "s", kMarkers, kPlain, 1, 0, false)),
        10032u);
  }
  EXPECT_EQ(minorOf(rep_->createShared("u", std::string(390, 'n'), kMarkers,
                                       kPlain, 1, 0, false)),
            10032u);
  EXPECT_EQ(tree(), before);
}

// Checks on a record's rights.
TEST(RightsTest, OwnerLaunchAndInvoke) {
  auto record = [](std::string owner, std::string launch, std::string invoke) {
    return ImpRepRecord("s", "cdr", "tcp", owner, launch, invoke,
                        std::make_unique<SharedLaunchInfo>(kPlain), 1, 0);
  };
  ImpRepRecord plain = record("own", ";", ";");
  EXPECT_TRUE(ImpRepository::isOwner(plain, "own"));
  EXPECT_FALSE(ImpRepository::isOwner(plain, "other"));
  EXPECT_TRUE(ImpRepository::mayLaunch(plain, "own"));
  EXPECT_FALSE(ImpRepository::mayLaunch(plain, "u"));
  EXPECT_FALSE(ImpRepository::mayLaunch(plain, ""));
  EXPECT_TRUE(ImpRepository::isOwner(record("all", ";", ";"), "anyone"));
  EXPECT_TRUE(ImpRepository::mayLaunch(record("o", ";x;all;", ";"), "u"));
  ImpRepRecord listed = record("o", ";u1;u2;", ";u3;");
  EXPECT_TRUE(ImpRepository::mayLaunch(listed, "u2"));
  EXPECT_FALSE(ImpRepository::mayLaunch(listed, "u"));
  EXPECT_FALSE(ImpRepository::mayLaunch(listed, "u3"));
  EXPECT_TRUE(ImpRepository::mayInvoke(listed, "u3"));
  EXPECT_FALSE(ImpRepository::mayInvoke(listed, "u1"));
  EXPECT_TRUE(ImpRepository::mayInvoke(listed, "o"));
}

}  // namespace
}  // namespace talvo::imprep
