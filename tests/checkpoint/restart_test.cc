// A restarted talvod takes over the servers its killed predecessor
// launched: binding answers with them without a launch, they are listed and
// can be killed. (Which entries a start drops is the state transfer's
// test.)

#include <gtest/gtest.h>
#include <sys/prctl.h>

#include "checkpoint_support.h"
#include "support/talvod.h"
#include "support/talvod_client.h"

namespace talvo::testing {
namespace {

struct Launched {
  std::string port;
  pid_t pid = 0;
};

// Creates the record of `server` (the stand-in server, up 30 s, reporting
// into `reports`, which outlives the daemon: a server still starting when
// its daemon's folder goes would end) and binds.
Launched bind(DaemonUnderTest& d, const std::string& server,
              const TempDir& reports) {
  TalvodClient c(d.port());
  const std::string command =
      std::string(TALVO_LAUNCH_PROBE) + " " + reports.file(server) + " 30";
  c.newSharedServer(server, client::Strings{"m"}, client::Strings{command}, 0u);
  client::ImplementationDetails details;
  EXPECT_EQ(c.getImplementationDetails(server, "m", "", &details), nullptr)
      << d.log();
  std::vector<client::ServerDetails> active;
  EXPECT_EQ(c.listActiveServers(&active), nullptr);
  Launched out{details.commsPort};
  for (const auto& s : active) {
    if (s.server == server) out.pid = static_cast<pid_t>(s.osSpecific);
  }
  return out;
}

TEST(CheckpointRestart, TakesOverRunningServersAndDropsEndedOnes) {
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);  // the servers outlive their daemon
  EndChildren cleanup;
  TempDir state;
  const DaemonSetup setup{.settings = "Checkpoint=yes\nCheckPointFile=" +
                                      state.file("talvod.ckp") + "\n"};
  Launched kept;
  {
    DaemonUnderTest first(setup);
    ASSERT_TRUE(first.ready()) << first.log();
    kept = bind(first, "kept", state);
    ASSERT_GT(kept.pid, 0);
    first.process().stop(SIGKILL);  // its servers stay
  }
  DaemonUnderTest second(setup);
  ASSERT_TRUE(second.ready()) << second.log();
  Launched again = bind(second, "kept", state);
  EXPECT_EQ(again.port, kept.port);
  EXPECT_EQ(again.pid, kept.pid);  // no second launch
  TalvodClient c(second.port());
  std::vector<client::ServerDetails> active;
  ASSERT_EQ(c.listActiveServers(&active), nullptr);
  EXPECT_EQ(active.size(), 1u);

  ASSERT_EQ(c.killServer("kept", "m"), nullptr);
  EXPECT_TRUE(waitEnded(kept.pid));
  ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}

}  // namespace
}  // namespace talvo::testing
