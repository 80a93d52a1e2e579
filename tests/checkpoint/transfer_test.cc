// The state transfer with real processes: what a restarted daemon takes
// over from the checkpoint file, and what it drops.

#include <gtest/gtest.h>

#include "activation/posix_activator.h"
#include "activation_support.h"
#include "checkpoint/daemon_checkpoint.h"
#include "checkpoint_support.h"
#include "support/temp_dir.h"

namespace talvo::checkpoint {
namespace {

using namespace talvo::testing;

std::string line(const std::string& key, char state, pid_t pid,
                 const std::string& port, int status) {
  return key + state + ":" + std::to_string(pid) + ":4:tcp:xdr:" + port + ":" +
         std::to_string(status) + ":\n";
}

TEST(StateTransfer, TakesOverRunningServersAndDropsTheRest) {
  TraceCapture trace;
  TempDir dir;
  EndChildren cleanup;
  const pid_t live = startServer("bank", "7601");
  // A process id now held by a program that is no server of ours.
  const pid_t reused = startProcess({"sleep", "60"});
  const pid_t ended = startServer("gone", "7603");
  ::kill(ended, SIGKILL);
  ASSERT_TRUE(waitEnded(ended));
  ASSERT_GT(live, 0);
  ASSERT_GT(reused, 0);

  const std::string path = dir.file("talvod.ckp");
  writeFile(path, line("old:m::", 'd', live, "7600", 2) +
                      line("bank:*::", 'a', live, "7601", 2) +
                      line("other:m::", 'a', reused, "7602", 2) +
                      line("gone:m:4242:", 'a', ended, "7603", 2) +
                      line("teller:*::", 'a', live, "7604", 1));
  DaemonCheckPoint cp;
  CORBA::Environment env;
  cp.openForReading(path, env);
  cp.openForWriting(path, env);
  ASSERT_EQ(env.exception(), nullptr);
  FakeRuntime runtime;
  PosixActivator activator(runtime, &cp);
  transferState(cp, activator, path, env);
  EXPECT_EQ(env.exception(), nullptr);
  EXPECT_TRUE(trace.hasLine(" call reg act for pid :" + std::to_string(live)));

  // Only the running server stays, with no IIOP port; the file is rewritten
  // with it alone.
  std::vector<ServerDetails> active;
  activator.listActive(active);
  ASSERT_EQ(active.size(), 1u);
  EXPECT_EQ(active[0].server, "bank");
  EXPECT_EQ(active[0].osSpecific, static_cast<std::uint32_t>(live));
  EXPECT_EQ(activator.getLaunchRecord("bank", "obj1", {})->iiopPort, "");
  EXPECT_EQ(activator.size(), 1u);
  EXPECT_EQ(readFile(path), line("bank:*::", 'a', live, "7601", 2));

  // The reused process id is never signalled; the server is.
  Status st = activator.killServer("other", "m", {});
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->minor(), 10244u);
  EXPECT_EQ(activator.killServer("bank", "obj1", {}), nullptr);
  EXPECT_TRUE(waitEnded(live));
  EXPECT_EQ(::kill(reused, 0), 0);
  EXPECT_EQ(readFile(path), line("bank:*::", 'd', live, "7601", 2));
}

}  // namespace
}  // namespace talvo::checkpoint
