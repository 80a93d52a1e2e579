// The built talvodw on the offscreen platform: ended by SIGTERM or SIGINT
// as Stop ends it, and idle without waking.

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "support/talvod.h"

namespace talvo::testing {
namespace {

std::string talvodwPath() { return builtProgram("src/window/talvodw"); }

class Talvodw : public Talvod {
 public:
  Talvodw(const TempDir& dir, std::vector<std::string> args)
      : Talvod(dir, std::move(args),
               {{"QT_QPA_PLATFORM", "offscreen"},
                {"XDG_STATE_HOME", dir.file("state")}},
               false, talvodwPath()) {}
};

TEST(TalvodwProcessTest, SignalsStopItInOrderWithTheReferenceFile) {
  for (int sig : {SIGTERM, SIGINT}) {
    TempDir dir;
    // Interop on without a file: the desktop user's state folder.
    dir.write("registry", daemonRegistry("Interop=yes\n"));
    Talvodw daemon(dir, {"--tray"});
    ASSERT_NE(daemon.port(), 0) << daemon.errors();
    // The offscreen platform has no tray: said, and a window instead.
    EXPECT_NE(daemon.errors().find("talvodw: no system tray is available; "
                                   "running in a window\n"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.file("state/talvo/daemon.ior")));
    daemon.signal(sig);
    EXPECT_EQ(daemon.exitCode(), 0) << daemon.errors();
    EXPECT_EQ(readFile(dir.file("state/talvo/daemon.ior")).rfind("IOR:", 0),
              0u);
    EXPECT_EQ(daemon.output().find("Closedown"), std::string::npos);
  }
}

TEST(TalvodwProcessTest, IdleItDoesNotWake) {
  TempDir dir;
  Talvodw daemon(dir, {});
  ASSERT_NE(daemon.port(), 0) << daemon.errors();
  // Once the start-up has settled (no switch for 200 ms), nothing wakes
  // the process.
  long before = contextSwitches(daemon.pid());
  auto quiet_since = std::chrono::steady_clock::now();
  ASSERT_TRUE(eventually([&] {
    const auto now = std::chrono::steady_clock::now();
    if (long n = contextSwitches(daemon.pid()); n != before) {
      before = n;
      quiet_since = now;
    }
    return now - quiet_since >= std::chrono::milliseconds(200);
  }));
  std::this_thread::sleep_for(std::chrono::seconds(1));  // the span watched
  EXPECT_LE(contextSwitches(daemon.pid()) - before, 2);
}

TEST(TalvodwProcessTest, RefusesAnUnknownOption) {
  TempDir dir;
  Talvodw daemon(dir, {"-x"});
  EXPECT_EQ(daemon.exitCode(), 2);
  EXPECT_NE(daemon.errors().find("talvodw: unknown option '-x'"),
            std::string::npos);
}

}  // namespace
}  // namespace talvo::testing
