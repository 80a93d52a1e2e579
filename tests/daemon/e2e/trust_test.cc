// What the built talvod trusts, through real processes: who a local caller
// is (the kernel's word, not the caller's), who launched servers run as,
// which names are refused, how its log and files are written, and that a
// daemon killed in the middle of edits leaves a repository that works.
// Tests that need accounts of their own make and remove them (root only).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <random>

#include "support/status_text.h"
#include "support/talvod.h"
#include "support/talvod_client.h"
#include "support/test_account.h"

namespace talvo::testing {
namespace {

namespace fs = std::filesystem;
using client::Strings;

unsigned modeOf(const std::string& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st.st_mode & 07777;
}

// Runs requests as `account` through a client whose binding message still
// claims the test's own user (root): the attack of a local user who says
// it is root.
std::string claimingRoot(const TestAccount& account, std::uint16_t port,
                         std::function<std::string(TalvodClient&)> body) {
  return asUser(account, [&]() -> AsUserBody {
    auto c = std::make_shared<TalvodClient>(port);
    return [c, body] { return body(*c); };
  });
}

#define NEED_ACCOUNT(var, tag)                               \
  std::unique_ptr<TestAccount> var = TestAccount::make(tag); \
  if (!var) GTEST_SKIP() << "making local accounts needs root"

TEST(TrustProbe, LocalCallerIsWhoTheKernelSaysNotWhoItClaims) {
  NEED_ACCOUNT(user, "a");
  DaemonUnderTest d;
  ASSERT_TRUE(d.ready()) << d.log();
  TalvodClient root(d.port());
  ASSERT_EQ(
      root.newSharedServer("bank", Strings{"m"}, Strings{"/bin/true"}, 0u),
      nullptr);
  ASSERT_EQ(root.newDirectory("vault"), nullptr);

  const std::string got = claimingRoot(*user, d.port(), [](TalvodClient& c) {
    std::string r;
    r += what(c.deleteServer("bank")) + "|";
    r += what(c.newSharedServer("mine", Strings{"m"}, Strings{"/bin/true"},
                                0u)) +
         "|";
    r += what(c.deleteDirectory("vault", true)) + "|";
    client::PersistentServerDetails p;
    r += what(c.registerPersistentServer("bank", 4242u, &p)) + "|";
    r += what(c.registerPersistentServer("*", 4242u, &p));
    return r;
  });
  EXPECT_EQ(got,
            "NO_PERMISSION 10126 bank|success|NO_PERMISSION 10127 vault|"
            "NO_PERMISSION 10122 bank|BAD_PARAM 10032 *");
  // What the caller made is its own, under its real name.
  client::ServerDescription mine;
  ASSERT_EQ(root.getServer("mine", &mine), nullptr);
  EXPECT_EQ(mine.owner, user->name);
  EXPECT_TRUE(fs::exists(d.dir().file("imprep/bank.IMP")));
  // Root, who may become anyone, keeps the name it claims, and the start
  // says that servers run as root.
  EXPECT_NE(d.log().find("LaunchAs=daemon"), std::string::npos) << d.log();
}

TEST(TrustProbe, ProtectedModeRefusesALocalUserClaimingTheDaemonUser) {
  NEED_ACCOUNT(user, "p");
  DaemonUnderTest d({.settings = "Protected=yes\n"});
  ASSERT_TRUE(d.ready()) << d.log();
  const std::string got = claimingRoot(*user, d.port(), [](TalvodClient& c) {
    std::string r = what(c.newDirectory("d")) + "|";
    return r + what(c.killServer("x", ""));
  });
  EXPECT_EQ(got, "NO_PERMISSION 10130 root|NO_PERMISSION 10130 root");
  EXPECT_FALSE(fs::exists(d.dir().file("imprep/d")));
}

TEST(TrustProbe, LaunchAsOwnerRunsEachServerAsItsOwnersAccount) {
  NEED_ACCOUNT(user, "o");
  DaemonUnderTest d({.settings = "LaunchAs=owner\n"});
  ASSERT_TRUE(d.ready()) << d.log();
  EXPECT_EQ(d.log().find("LaunchAs=daemon"), std::string::npos);
  // The account creates its record and binds to it: the server runs as
  // the account, with its groups.
  const std::string bound = claimingRoot(*user, d.port(), [](TalvodClient& c) {
    client::ImplementationDetails details;
    std::string r = what(
        c.newSharedServer("svc", Strings{"m"}, Strings{"/bin/sleep 30"}, 0u));
    return r + "|" + what(c.getImplementationDetails("svc", "m", "", &details));
  });
  ASSERT_EQ(bound, "success|success") << d.log();
  std::vector<pid_t> servers = childrenOf(d.process().pid());
  ASSERT_EQ(servers.size(), 1u);
  const std::string status =
      readFile("/proc/" + std::to_string(servers[0]) + "/status");
  const std::string uid = std::to_string(user->uid);
  const std::string gid = std::to_string(user->gid);
  EXPECT_NE(status.find("Uid:\t" + uid + "\t" + uid + "\t" + uid),
            std::string::npos)
      << status;
  EXPECT_NE(status.find("Gid:\t" + gid + "\t" + gid), std::string::npos);
  const std::string groups = status.substr(status.find("Groups:"));
  EXPECT_NE(
      groups.substr(0, groups.find('\n')).find(std::to_string(user->extra_gid)),
      std::string::npos);

  // Records owned by root, or by a name with no account, are not launched.
  TalvodClient root(d.port());
  ASSERT_EQ(root.newSharedServer("rootsvc", Strings{"m"},
                                 Strings{"/bin/sleep 30"}, 0u),
            nullptr);
  ASSERT_EQ(root.newSharedServer("allsvc", Strings{"m"},
                                 Strings{"/bin/sleep 30"}, 0u),
            nullptr);
  ASSERT_EQ(root.addLaunchRights("root", "allsvc"), nullptr);
  ASSERT_EQ(root.addInvokeRights("root", "allsvc"), nullptr);
  ASSERT_EQ(root.changeOwnerServer("all", "allsvc"), nullptr);
  client::ImplementationDetails details;
  Status st = root.getImplementationDetails("rootsvc", "m", "", &details);
  EXPECT_EQ(what(st).substr(0, 24), "NO_PERMISSION 10122 root");
  EXPECT_NE(what(st).find("is root"), std::string::npos);
  st = root.getImplementationDetails("allsvc", "m", "", &details);
  EXPECT_NE(what(st).find("has no local account"), std::string::npos)
      << what(st);
  EXPECT_EQ(childrenOf(d.process().pid()).size(), 1u);
}

TEST(TrustProbe, NamesThatWouldCaptureOrBreakAreRefused) {
  DaemonUnderTest d({.settings = "UPS=yes\n"});
  ASSERT_TRUE(d.ready()) << d.log();
  TalvodClient c(d.port());
  auto create = [&](const std::string& name) {
    return what(c.newSharedServer(name, Strings{"m"}, Strings{"/bin/a"}, 0u));
  };
  for (const std::string name : {"*", "b?nk", "[ab]", "x -dir-"}) {
    EXPECT_EQ(create(name), "BAD_PARAM 10032 " + name);
  }
  client::PersistentServerDetails p;
  EXPECT_EQ(what(c.registerPersistentServer("*", 1u, &p)), "BAD_PARAM 10032 *");
  const std::string longName(256, 'n');
  EXPECT_EQ(create(longName), "BAD_PARAM 10032 " + longName);
  EXPECT_EQ(what(c.newDirectory(longName)), "BAD_PARAM 10033 " + longName);
  // A NUL inside a name does not cut it short: the request is refused.
  EXPECT_EQ(create(std::string("bank\0evil", 9)).substr(0, 13),
            "MARSHAL 10162");
  EXPECT_FALSE(fs::exists(d.dir().file("imprep/bank.IMP")));
  EXPECT_EQ(create("bank"), "success");
}

TEST(TrustProbe, LogAndRepositoryFilesAreWrittenSafely) {
  TempDir dir;
  dir.write("target", "precious");
  fs::create_symlink(dir.file("target"), dir.file("link"));
  const mode_t old = ::umask(0);
  {
    // The log's path is a link planted to another file: not followed.
    dir.write("registry",
              daemonRegistry("Log=yes\nLogFile=" + dir.file("link") + "\n"));
    Talvod t(dir, {"-f"});
    ASSERT_NE(t.port(), 0) << t.errors();
    TalvodClient c(t.port());
    ASSERT_EQ(c.newDirectory("d0"), nullptr);
    EXPECT_EQ(readFile(dir.file("target")), "precious");
  }
  dir.write("registry", daemonRegistry("Log=yes\nLogFile=" + dir.file("log") +
                                       "\nCheckpoint=yes\nCheckPointFile=" +
                                       dir.file("ckp") + "\n"));
  Talvod t(dir, {"-f"});
  ::umask(old);
  ASSERT_NE(t.port(), 0) << t.errors();
  TalvodClient c(t.port());
  ASSERT_EQ(c.newDirectory("d"), nullptr);
  ASSERT_EQ(c.newSharedServer("d\\s", Strings{"m"}, Strings{"/bin/a"}, 0u),
            nullptr);
  EXPECT_EQ(modeOf(dir.file("imprep/d")), 0755u);
  EXPECT_EQ(modeOf(dir.file("imprep/d/OWNER")), 0644u);
  EXPECT_EQ(modeOf(dir.file("imprep/d/s.IMP")), 0644u);
  // A name holding a line feed cannot forge a line of the log.
  client::PersistentServerDetails p;
  EXPECT_NE(c.registerPersistentServer("ev\nil", 1u, &p), nullptr);
  ASSERT_TRUE(t.stop(SIGUSR1).has_value());
  EXPECT_EQ(modeOf(dir.file("log")), 0600u);
  EXPECT_EQ(modeOf(dir.file("ckp")), 0600u);
  const std::string log = readFile(dir.file("log"));
  EXPECT_NE(log.find("ev\\x0Ail(pid"), std::string::npos) << log;
  EXPECT_EQ(log.find("\nil(pid"), std::string::npos);
}

// A client in a child process of the test that edits directories and
// records without pause and writes one byte to `acks` after each edit,
// until the daemon is gone.
pid_t startEditor(std::uint16_t port, int round, int acks) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  TalvodClient c(port);
  const Strings m{"m"}, cmd{"/bin/a"};
  for (int i = 0;; ++i) {
    const std::string dir =
        "r" + std::to_string(round) + "d" + std::to_string(i);
    const std::string last =
        "r" + std::to_string(round) + "d" + std::to_string(i - 1);
    Status steps[] = {
        c.newDirectory(dir),
        c.newSharedServer(dir + "\\s", m, cmd, 0u),
        c.addMarker(dir + "\\s", "m2", "/bin/b"),
        c.newDirectory(dir + "\\sub"),
        c.addDirRights("u", dir),
        c.newSharedServer(dir + "\\sub\\t", m, cmd, 0u),
        c.changeOwnerDir("root", dir),
        c.deleteDirectory(last, true),
    };
    for (Status& st : steps) {
      if (st && st->bareName() == "COMM_FAILURE") ::_exit(0);
      const char one = 1;
      if (::write(acks, &one, 1) != 1) ::_exit(0);
    }
  }
}

// Every repository directory lists, changes and goes, and no temporary
// file is left, after the daemon was killed at many moments of directory
// and record edits.
TEST(TrustProbe, KilledDuringEditsLeavesEveryDirectoryWhole) {
  TempDir dir;
  dir.write("registry", daemonRegistry(""));
  std::mt19937 random(1234);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(4);
  for (int round = 0; round < 3 || std::chrono::steady_clock::now() < until;
       ++round) {
    Talvod t(dir, {"-f"});
    const std::uint16_t port = t.port();
    ASSERT_NE(port, 0) << t.errors();
    int acks[2];
    ASSERT_EQ(::pipe(acks), 0);
    const pid_t editor = startEditor(port, round, acks[1]);
    ::close(acks[1]);
    // Killed after a chosen number of edits, while the next is under way.
    char buf[64];
    for (unsigned seen = 0, want = 1 + random() % 40; seen < want;) {
      const ssize_t n =
          ::read(acks[0], buf, std::min<std::size_t>(sizeof buf, want - seen));
      if (n <= 0) break;
      seen += static_cast<unsigned>(n);
    }
    t.signal(SIGKILL);
    t.wait();
    ::close(acks[0]);
    int status = 0;
    ::waitpid(editor, &status, 0);
  }
  Talvod t(dir, {"-f"});
  ASSERT_NE(t.port(), 0) << t.errors();
  TalvodClient c(t.port());
  for (const auto& e : fs::recursive_directory_iterator(dir.file("imprep"))) {
    const std::string name = e.path().filename().string();
    EXPECT_EQ(name.find(".tmp."), std::string::npos) << e.path();
    EXPECT_NE(name.front(), ':') << e.path();
  }
  Strings top;
  ASSERT_EQ(c.listServers("", &top), nullptr);
  EXPECT_FALSE(top.empty());
  for (const std::string& entry : top) {
    if (!entry.ends_with(" -dir-")) continue;
    const std::string name = entry.substr(0, entry.size() - 6);
    Strings inside;
    EXPECT_EQ(c.listServers(name, &inside), nullptr) << name;
    EXPECT_EQ(c.addDirRights("someone", name), nullptr) << name;
    EXPECT_EQ(c.deleteDirectory(name, true), nullptr) << name;
  }
  EXPECT_EQ(c.newDirectory("after"), nullptr);
}

}  // namespace
}  // namespace talvo::testing
