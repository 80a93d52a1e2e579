// A restarted talvod takes over the servers its killed predecessor
// launched: binding answers with them without a launch, they are listed and
// can be killed; a server that ended meanwhile is dropped.

#include <gtest/gtest.h>
#include <sys/prctl.h>

#include "../daemon/e2e/e2e_support.h"
#include "checkpoint_support.h"

namespace talvo::testing {
namespace {

struct Launched {
  std::string port;
  pid_t pid = 0;
};

// Creates the record of `server` (the stand-in server, up 30 s) and binds.
Launched bind(DaemonUnderTest& d, const std::string& server) {
  const std::string command =
      std::string(TALVO_LAUNCH_PROBE) + " " + d.dir().file(server) + " 30";
  CallReply r;
  d.call(DaemonOp::kNewSharedServer, {S(server), L({"m"}), L({command}), U(0)},
         r);
  Launched out;
  EXPECT_EQ(d.call(DaemonOp::kGetImplementationDetails,
                   {S(server), S("m"), S(""), {}, {}, {}, {}}, r),
            nullptr)
      << d.process().errors();
  if (r.args.size() > 5) out.port = r.args[5].text();
  EXPECT_EQ(d.call(DaemonOp::kListActiveServers, {{}}, r), nullptr);
  for (const Value& s : r.args.at(0).as<Value::List>()) {
    const auto& fields = s.as<Value::List>();
    if (fields[0].text() == server) {
      out.pid = static_cast<pid_t>(fields[6].as<std::uint32_t>());
    }
  }
  return out;
}

TEST(CheckpointRestart, TakesOverRunningServersAndDropsEndedOnes) {
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);  // the servers outlive their daemon
  EndChildren cleanup;
  TempDir state;
  DaemonSetup setup;
  setup.checkpoint_file = state.file("talvod.ckp");

  Launched kept, ended;
  {
    DaemonUnderTest first(setup);
    ASSERT_TRUE(first.ready()) << first.process().errors();
    kept = bind(first, "kept");
    ended = bind(first, "ended");
    ASSERT_GT(kept.pid, 0);
    ASSERT_GT(ended.pid, 0);
  }  // killed with SIGKILL
  ::kill(ended.pid, SIGKILL);
  ASSERT_TRUE(waitEnded(ended.pid));

  DaemonUnderTest second(setup);
  ASSERT_TRUE(second.ready()) << second.process().errors();
  Launched again = bind(second, "kept");
  EXPECT_EQ(again.port, kept.port);
  EXPECT_EQ(again.pid, kept.pid);  // no second launch
  CallReply r;
  ASSERT_EQ(second.call(DaemonOp::kListActiveServers, {{}}, r), nullptr);
  EXPECT_EQ(r.args[0].as<Value::List>().size(), 1u);

  ASSERT_EQ(second.call(DaemonOp::kKillServer, {S("kept"), S("m")}, r),
            nullptr);
  EXPECT_TRUE(waitEnded(kept.pid));
  EXPECT_EQ(readFile(setup.checkpoint_file),
            "kept:m::d:" + std::to_string(kept.pid) +
                ":4:tcp:cdr:" + kept.port + ":2:\n");
  ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}

}  // namespace
}  // namespace talvo::testing
