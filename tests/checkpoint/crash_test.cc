// Fault injection: the daemon's checkpoint writer is killed with SIGKILL at
// many moments of a stream of launches and kills; after each, the next
// start must read the file and take over every server still running.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <map>
#include <random>
#include <sstream>

#include "activation/posix_activator.h"
#include "activation_support.h"
#include "checkpoint/daemon_checkpoint.h"
#include "checkpoint_support.h"
#include "support/temp_dir.h"

namespace talvo::checkpoint {
namespace {

using namespace talvo::testing;
using std::chrono::milliseconds;

// The servers the driver reported: those recorded and not since killed.
std::set<pid_t> runningServers(const std::string& reports,
                               std::set<pid_t>& killed, ProcessSet& all) {
  std::istringstream in(reports);
  std::map<pid_t, bool> launched;
  for (std::string kind; in >> kind;) {
    pid_t pid = 0;
    in >> pid;
    if (kind == "L") launched[all.add(pid)] = true;
    if (kind == "K") killed.insert(pid);
  }
  std::set<pid_t> running;
  for (const auto& [pid, ignored] : launched) {
    if (!killed.count(pid) && ::kill(pid, 0) == 0) running.insert(pid);
  }
  return running;
}

TEST(CheckpointCrash, EveryRunningServerSurvivesAKillAtAnyMoment) {
  // The servers of a killed driver become children of this process.
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  TempDir dir;
  EndChildren cleanup;
  ProcessSet all;
  const std::string path = dir.file("talvod.ckp");
  const std::string out = dir.file("reports");
  std::mt19937 random(2026);
  std::set<pid_t> killed, running;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(20);
  int rounds = 0;
  for (; rounds < 30 && std::chrono::steady_clock::now() < deadline; ++rounds) {
    pid_t driver = all.add(
        startProcess({"sh", "-c",
                      std::string("exec ") + TALVO_CRASH_DRIVER + " " + path +
                          " " + std::to_string(rounds) + " >>" + out}));
    ASSERT_GT(driver, 0);
    std::this_thread::sleep_for(milliseconds(5 + random() % 60));
    ::kill(driver, SIGKILL);
    ASSERT_TRUE(waitEnded(driver));
    reapEnded();
    running = runningServers(readFile(out), killed, all);

    // The next start: the file opens, and every running server, and only
    // running ones, is taken over.
    TraceCapture quiet;
    DaemonCheckPoint cp;
    CORBA::Environment env;
    cp.openForReading(path, env);
    cp.openForWriting(path, env);
    ASSERT_EQ(env.exception(), nullptr) << "round " << rounds;
    FakeRuntime runtime;
    PosixActivator activator(runtime, &cp);
    transferState(cp, activator, path, env);
    std::vector<ServerDetails> active;
    activator.listActive(active);
    std::set<pid_t> taken;
    for (const ServerDetails& s : active)
      taken.insert(static_cast<pid_t>(s.OSspecific));
    for (pid_t pid : running) {
      EXPECT_TRUE(taken.count(pid)) << "round " << rounds << " lost " << pid;
    }
    // A server may be recorded and the driver killed before it said so;
    // whatever is taken over must still run, as a server of the driver's.
    for (pid_t pid : taken) {
      int status = 0;
      EXPECT_TRUE(killed.count(pid) ||
                  ::waitpid(all.add(pid), &status, WNOHANG) == 0)
          << "round " << rounds << " took over " << pid;
    }
    // What the start leaves behind is whole live lines only.
    std::istringstream lines(readFile(path));
    for (std::string l; std::getline(lines, l);) {
      CheckpointEntry e = parseCheckpointLine(l);
      EXPECT_EQ(e.state, 'a') << l;
      EXPECT_GT(e.pid, 0) << l;
    }
    if (::testing::Test::HasFailure()) break;
  }
  EXPECT_GE(rounds, 10);
  ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}

}  // namespace
}  // namespace talvo::checkpoint
