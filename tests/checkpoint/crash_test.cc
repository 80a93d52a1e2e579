// Fault injection: the daemon's checkpoint writer is killed with SIGKILL at
// many moments of a stream of launches and kills; after each, the next
// start must read the file and take over every server still running.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>

#include <algorithm>
#include <random>
#include <set>
#include <sstream>

#include "activation/posix_activator.h"
#include "activation_support.h"
#include "checkpoint/daemon_checkpoint.h"
#include "checkpoint_support.h"

namespace talvo::checkpoint {
namespace {

using namespace talvo::testing;

TEST(CheckpointCrash, EveryRunningServerSurvivesAKillAtAnyMoment) {
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);  // a killed driver's servers are ours
  EndChildren cleanup;
  TempDir dir;
  const std::string path = dir.file("talvod.ckp");
  std::mt19937 random(2026);
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(20);
  // The lines the drivers wrote so far.
  auto reported = [&] {
    const std::string text = readFile(dir.file("log"));
    return std::count(text.begin(), text.end(), '\n');
  };
  int round = 0;
  for (; round < 30 && std::chrono::steady_clock::now() < deadline; ++round) {
    pid_t driver = startProcess({"sh", "-c",
                                 std::string("exec ") + TALVO_CRASH_DRIVER +
                                     " " + path + " " + std::to_string(round) +
                                     " >>" + dir.file("log")});
    ASSERT_GT(driver, 0);
    // Killed at once or after a few of its reports, at whatever it does
    // then.
    const long reports = reported() + static_cast<long>(random() % 9);
    eventually([&] { return reported() >= reports; });
    ::kill(driver, SIGKILL);
    ASSERT_TRUE(waitEnded(driver));
    for (int status; ::waitpid(-1, &status, WNOHANG) > 0;) {
    }
    // Servers recorded ("L") and not since told to end ("K") that run.
    std::set<pid_t> running, killed;
    std::istringstream log(readFile(dir.file("log")));
    for (std::string kind; log >> kind;) {
      pid_t pid = 0;
      log >> pid;
      (kind == "L" ? running : killed).insert(pid);
    }
    std::erase_if(running, [&](pid_t pid) {
      return killed.count(pid) || ::kill(pid, 0) != 0;
    });

    // A server launched just before the kill shows its launch environment
    // a moment later (until it has started its program); a start can tell
    // it is a server only then.
    for (pid_t pid : running) {
      eventually([&] {
        return readFile("/proc/" + std::to_string(pid) + "/environ")
                   .find("QV_SERVER_NAME=") != std::string::npos;
      });
    }
    // The next start: the file opens, every running server is taken over,
    // and whatever is taken over runs as a child (a server recorded just
    // before its driver died may not have been reported).
    TraceCapture quiet;
    DaemonCheckPoint cp;
    CORBA::Environment env;
    cp.openForReading(path, env);
    cp.openForWriting(path, env);
    ASSERT_EQ(env.exception(), nullptr) << "round " << round;
    FakeRuntime runtime;
    PosixActivator activator(runtime, &cp);
    transferState(cp, activator, path, env);
    std::vector<ServerDetails> active;
    activator.listActive(active);
    std::set<pid_t> taken;
    for (const ServerDetails& s : active) {
      pid_t pid = static_cast<pid_t>(s.osSpecific);
      int status = 0;
      taken.insert(pid);
      EXPECT_TRUE(killed.count(pid) || ::waitpid(pid, &status, WNOHANG) == 0)
          << "round " << round << " took over " << pid;
    }
    for (pid_t pid : running) {
      EXPECT_TRUE(taken.count(pid)) << "round " << round << " lost " << pid;
    }
    // What the start leaves is whole live lines only.
    std::istringstream lines(readFile(path));
    for (std::string l; std::getline(lines, l);) {
      EXPECT_EQ(parseCheckpointLine(l).state, 'a') << l;
    }
    if (::testing::Test::HasFailure()) break;
  }
  EXPECT_GE(round, 10);
  ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}

}  // namespace
}  // namespace talvo::checkpoint
