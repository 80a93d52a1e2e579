// The settings table: defaults, flags, integers and the Priority mapping,
// read from a settings file.

#include "daemon/daemon_settings.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/scoped_env.h"
#include "support/talvod.h"

namespace talvo::daemon {
namespace {

SettingsValues key(std::map<std::string, std::string> values) { return values; }

// ---- Round trips -------------------------------------------------------

TEST(DaemonSettingsTest, ReadsEveryValueFromTheSettingsFile) {
  testing::TempDir dir;
  // Key and value names in any case; values as they stand, a final
  // carriage return dropped.
  testing::writeFile(
      dir.file("registry"),
      "[software\\brevan technologies\\talvo\\2.3C\\DAEMON]\r\n"
      "LOG=yes\r\nlogfile=/x/daemon log.txt\r\nTraceLevel=2\nReapTime=45\n"
      "UPS=yes\nProtected=yes\nInterop=yes\nInteropFile= /x/a.ior\n"
      "Checkpoint=yes\nCheckPointFile=/x/cp\nPriority=2\n"
      "[SOFTWARE\\Brevan Technologies\\Talvo\\2.3c\\Configuration]\n"
      "Priority=3\n");
  testing::ScopedEnv registry("QV_REGISTRY", dir.file("registry"));
  DaemonSettings s = parseDaemonSettings(readDaemonKey());
  EXPECT_TRUE(s.log);
  EXPECT_EQ(s.log_file, "/x/daemon log.txt");
  EXPECT_EQ(s.trace_level, 2);
  EXPECT_EQ(s.reap_time, 45);
  EXPECT_EQ(s.interop_file, " /x/a.ior");  // the flags: the host's test
  EXPECT_EQ(s.delay_ms, 100u);
}

// ---- Boundaries --------------------------------------------------------

TEST(DaemonSettingsTest, FlagsPathsAndIntegers) {
  // A flag is on only for exactly "yes"; a path defaults only when its flag
  // is on.
  DaemonSettings near = parseDaemonSettings(
      key({{"ups", "Yes"}, {"protected", "yes "}, {"interopfile", "/x"}}));
  EXPECT_FALSE(near.ups || near.protected_mode || near.interop);
  EXPECT_EQ(near.interop_file, "");
  DaemonSettings on =
      parseDaemonSettings(key({{"interop", "yes"}, {"log", "yes"}}));
  EXPECT_EQ(on.interop_file, "/var/lib/talvo/daemon.ior");
  EXPECT_EQ(on.log_file, "/var/log/talvo/daemon.log");

  // Integers read like atoi (leadingInteger). A value that is present but has
  // no digits reads as 0, not the default; so does a Priority without digits,
  // which is Priority 0.
  EXPECT_EQ(parseDaemonSettings(key({{"tracelevel", "x"}})).trace_level, 0);
  EXPECT_EQ(parseDaemonSettings(key({{"tracelevel", ""}})).trace_level, 1);
  EXPECT_EQ(parseDaemonSettings(key({{"priority", "x"}})).delay_ms, 500u);
  EXPECT_EQ(parseDaemonSettings(key({{"priority", "3ms"}})).delay_ms, 0u);
  EXPECT_EQ(parseDaemonSettings(key({{"priority", "7"}})).delay_ms, 300u);
}

}  // namespace
}  // namespace talvo::daemon
