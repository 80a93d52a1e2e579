// The built talvod end to end: management operations over its port, the
// protected mode, and the binding operations launching, listing and
// killing a real server process.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <cerrno>
#include <set>

#include "e2e_support.h"

namespace talvo::testing {
namespace {

using std::chrono::milliseconds;

std::vector<Value> outs(std::size_t n) { return std::vector<Value>(n); }

// --- Round trips ---------------------------------------------------------

TEST(DaemonEndToEnd, ManagesServerRecordsAndAnswersFailures) {
  DaemonUnderTest d;
  ASSERT_TRUE(d.ready()) << d.process().errors();
  CallReply r;
  ASSERT_EQ(
      d.call(DaemonOp::kNewSharedServer,
             {S("bank"), L({"m1", "m2"}), L({"/bin/a", "/bin/b -x"}), U(0)}, r),
      nullptr);

  ASSERT_EQ(d.call(DaemonOp::kServerExists, {S("bank")}, r), nullptr);
  EXPECT_EQ(r.result, B(true));

  std::vector<Value> args = {S("bank")};
  for (Value& v : outs(12)) args.push_back(std::move(v));
  ASSERT_EQ(d.call(DaemonOp::kGetServer2, std::move(args), r), nullptr);
  EXPECT_EQ(r.args[3].text(), "shared");
  EXPECT_EQ(r.args[10], L({"m1", "m2"}));
  EXPECT_EQ(r.args[12], L({"/bin/a", "/bin/b -x"}));

  ASSERT_EQ(d.call(DaemonOp::kListServers, {S(""), {}}, r), nullptr);
  EXPECT_EQ(r.args[1], L({"bank"}));

  ASSERT_EQ(d.call(DaemonOp::kDeleteServer, {S("bank")}, r), nullptr);
  ASSERT_EQ(d.call(DaemonOp::kServerExists, {S("bank")}, r), nullptr);
  EXPECT_EQ(r.result, B(false));
  ASSERT_EQ(d.call(DaemonOp::kListServers, {S(""), {}}, r), nullptr);
  EXPECT_EQ(r.args[1], L({}));

  // Failures come back as exception replies.
  Status missing = d.call(DaemonOp::kDeleteServer, {S("ghost")}, r);
  ASSERT_NE(missing, nullptr);
  EXPECT_EQ(missing->bareName(), "BAD_OPERATION");
  EXPECT_EQ(missing->minor(), 10241u);

  // A name that would leave the repository is refused, and the daemon
  // goes on serving.
  Status escape = d.call(DaemonOp::kNewSharedServer,
                         {S("../../etc/x"), L({"m"}), L({"/bin/a"}), U(0)}, r);
  ASSERT_NE(escape, nullptr);
  EXPECT_FALSE(std::filesystem::exists(d.dir().path() + "/etc/x"));

  // Without a Priority setting requests are served as they come; a daemon
  // that paused between passes served two a second.
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(d.call(DaemonOp::kServerExists, {S("bank")}, r), nullptr);
    EXPECT_EQ(r.result, B(false));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
}

// The binding exchange carries the client's user name: in protected mode
// the daemon's own user from this host may change the repository.
TEST(DaemonEndToEnd, ProtectedModeAcceptsItsOwnUserFromThisHost) {
  DaemonSetup setup;
  setup.protected_mode = true;
  DaemonUnderTest d(setup);
  ASSERT_TRUE(d.ready()) << d.process().errors();
  CallReply r;
  EXPECT_EQ(d.call(DaemonOp::kNewDirectory, {S("d")}, r), nullptr)
      << d.process().output();
  EXPECT_TRUE(std::filesystem::is_directory(d.dir().file("imprep/d")));
}

// --- Launching -------------------------------------------------------------

class LaunchTest : public ::testing::Test {
 protected:
  // Servers the daemon leaves behind when it is killed become children of
  // this process, so that the test can reap them.
  void SetUp() override { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }

  void TearDown() override {
    // The daemon is gone by now; whatever it launched goes with the test,
    // and nothing may be left running.
    for (pid_t pid : launched_) {
      if (pid <= 0) continue;
      ::kill(pid, SIGKILL);
      EXPECT_TRUE(eventually([&] {
        int status = 0;
        ::waitpid(pid, &status, WNOHANG);
        return processGone(pid);
      })) << pid;
    }
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
  }

  // The running servers the daemon lists.
  std::vector<Value> active(DaemonUnderTest& d) {
    CallReply r;
    Status st = d.call(DaemonOp::kListActiveServers, {{}}, r);
    EXPECT_EQ(st, nullptr);
    if (st) return {};
    std::vector<Value> list = r.args[0].as<Value::List>();
    for (const Value& s : list) {
      launched_.insert(
          static_cast<pid_t>(s.as<Value::List>()[6].as<std::uint32_t>()));
    }
    return list;
  }

  std::set<pid_t> launched_;
};

TEST_F(LaunchTest, LaunchesListsAndKillsAServer) {
  DaemonUnderTest d;
  ASSERT_TRUE(d.ready()) << d.process().errors();
  const std::string report = d.dir().file("probe.report");
  const std::string command =
      std::string(TALVO_LAUNCH_PROBE) + " " + report + " 30";
  CallReply r;
  ASSERT_EQ(d.call(DaemonOp::kNewSharedServer,
                   {S("probe"), L({"m"}), L({command}), U(0)}, r),
            nullptr);

  ASSERT_EQ(d.call(DaemonOp::kGetImplementationDetails,
                   {S("probe"), S("m"), S(""), {}, {}, {}, {}}, r),
            nullptr)
      << d.process().errors();
  EXPECT_EQ(r.args[3].text(), "xdr");
  const std::string port = r.args[5].text();
  EXPECT_EQ(r.args[6].text(), "shared");
  EXPECT_FALSE(port.empty());

  std::vector<Value> list = active(d);
  ASSERT_EQ(list.size(), 1u);
  const std::vector<Value>& s = list[0].as<Value::List>();
  EXPECT_EQ(s[0].text(), "probe");
  EXPECT_EQ(s[5].text(), port);
  const pid_t pid = static_cast<pid_t>(s[6].as<std::uint32_t>());
  ASSERT_GT(pid, 0);
  EXPECT_EQ(::kill(pid, 0), 0);

  // The server was started with its port in its environment.
  EXPECT_TRUE(eventually([&] { return std::filesystem::exists(report); }));
  EXPECT_NE(readFile(report).find("env QV_SERVER_PORT=" + port + "\n"),
            std::string::npos);

  // A second request finds it running: same port, no new process.
  ASSERT_EQ(d.call(DaemonOp::kGetImplementationDetails,
                   {S("probe"), S("m"), S(""), {}, {}, {}, {}}, r),
            nullptr);
  EXPECT_EQ(r.args[5].text(), port);
  EXPECT_EQ(active(d).size(), 1u);

  // Killing ends it; the daemon reaps it and forgets it.
  ASSERT_EQ(d.call(DaemonOp::kKillServer, {S("probe"), S("m")}, r), nullptr);
  EXPECT_TRUE(eventually([&] { return processGone(pid); }));
  EXPECT_TRUE(active(d).empty());

  Status again = d.call(DaemonOp::kKillServer, {S("probe"), S("m")}, r);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->minor(), 10244u);
}

TEST_F(LaunchTest, ServerThatEndsAtOnceIsAFailedLaunch) {
  DaemonUnderTest d;
  ASSERT_TRUE(d.ready()) << d.process().errors();
  const std::string command =
      std::string(TALVO_LAUNCH_PROBE) + " " + d.dir().file("r") + " 0 3";
  CallReply r;
  ASSERT_EQ(d.call(DaemonOp::kNewSharedServer,
                   {S("quick"), L({"m"}), L({command}), U(0)}, r),
            nullptr);
  Status st = d.call(DaemonOp::kGetImplementationDetails,
                     {S("quick"), S("m"), S(""), {}, {}, {}, {}}, r);
  // Either the start-up test saw it end (NO_IMPLEMENT 10202), or it was
  // still running then and is gone from the list once reaped.
  if (st != nullptr) {
    EXPECT_EQ(st->bareName(), "NO_IMPLEMENT");
    EXPECT_EQ(st->minor(), 10202u);
  }
  EXPECT_TRUE(eventually([&] { return active(d).empty(); }));
  // The daemon still serves.
  EXPECT_EQ(d.call(DaemonOp::kServerExists, {S("quick")}, r), nullptr);
}

}  // namespace
}  // namespace talvo::testing
