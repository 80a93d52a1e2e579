#include "platform/settings_store.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace talvo::platform {
namespace {

using talvo::testing::ScopedEnv;
using talvo::testing::TempDir;

const char kConfigKey[] =
    "SOFTWARE\\Brevan Technologies\\Talvo\\2.3c\\Configuration";
const char kDaemonKey[] = "SOFTWARE\\Brevan Technologies\\Talvo\\2.3c\\Daemon";

const char kSample[] =
    "# comment lines start with '#' or ';'\n"
    "[SOFTWARE\\Brevan Technologies\\Talvo\\2.3c\\Daemon]\n"
    "Log=yes\n"
    "LogFile=/var/log/talvod.log\n"
    "; another comment\n"
    "[SOFTWARE\\Brevan Technologies\\Talvo\\2.3c\\Configuration]\n"
    "QV_DAEMON_PORT=7591\n";

// A settings file "registry" in a fresh folder, holding kSample.
class SettingsStoreTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string path = dir.write("registry", kSample);
};

// --- round trips ---------------------------------------------------------

TEST_F(SettingsStoreTest, ReadsValuesOfAKeyNamedInAnyCase) {
  auto key = SettingsKey::open(kDaemonKey, path);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->value("Log"), "yes");
  EXPECT_EQ(key->value("LogFile"), "/var/log/talvod.log");
  EXPECT_EQ(key->value("QV_DAEMON_PORT"), std::nullopt);  // other key
  EXPECT_EQ(key->values().size(), 2u);
  auto config = SettingsKey::open(
      "software\\brevan technologies\\TALVO\\2.3C\\configuration", path);
  ASSERT_TRUE(config);
  EXPECT_EQ(config->value("qv_daemon_port"), "7591");
  EXPECT_EQ(config->name(), kConfigKey);
  // What was read is a snapshot; the next open reads the file again.
  dir.write("registry",
            "[" + std::string(kConfigKey) + "]\nQV_DAEMON_PORT=1\n");
  EXPECT_EQ(config->value("QV_DAEMON_PORT"), "7591");
  EXPECT_EQ(SettingsKey::open(kConfigKey, path)->value("QV_DAEMON_PORT"), "1");
}

TEST_F(SettingsStoreTest, SetKeepsEveryOtherLine) {
  ASSERT_FALSE(setSettingsValue(kDaemonKey, "log", "no", path));
  ASSERT_FALSE(setSettingsValue(kDaemonKey, "TraceLevel", "2", path));
  ASSERT_FALSE(setSettingsValue(kConfigKey, "QV_ERRORS", "/e", path));
  EXPECT_EQ(dir.read("registry"),
            "# comment lines start with '#' or ';'\n"
            "[SOFTWARE\\Brevan Technologies\\Talvo\\2.3c\\Daemon]\n"
            "log=no\n"
            "LogFile=/var/log/talvod.log\n"
            "TraceLevel=2\n"
            "; another comment\n"
            "[SOFTWARE\\Brevan Technologies\\Talvo\\2.3c\\Configuration]\n"
            "QV_DAEMON_PORT=7591\n"
            "QV_ERRORS=/e\n");
}

TEST_F(SettingsStoreTest, SetCreatesFileAndSection) {
  std::filesystem::remove(path);
  ASSERT_FALSE(setSettingsValue(kDaemonKey, "Port", "1", path));
  ASSERT_FALSE(setSettingsValue(kConfigKey, "A", "x=y ", path));
  EXPECT_EQ(dir.read("registry"),
            "[SOFTWARE\\Brevan Technologies\\Talvo\\2.3c\\Daemon]\n"
            "Port=1\n"
            "[SOFTWARE\\Brevan Technologies\\Talvo\\2.3c\\Configuration]\n"
            "A=x=y \n");
  EXPECT_EQ(SettingsKey::open(kConfigKey, path)->value("a"), "x=y ");
}

TEST(SettingsStoreRoundTrip, PathComesFromEnvironment) {
  {
    ScopedEnv env("QV_REGISTRY", "/some/where");
    EXPECT_EQ(settingsStorePath(), "/some/where");
  }
  ScopedEnv env("QV_REGISTRY", std::nullopt);
  EXPECT_EQ(settingsStorePath(), "/etc/talvo/registry");
}

// --- boundaries ----------------------------------------------------------

TEST_F(SettingsStoreTest, ValueIsTextAfterFirstEqualsAsItStands) {
  path = dir.write("registry",
                   "[K]\r\nA= spaced =x \r\nB=\nC\n  D  =d\n[K]\nA=second\n");
  auto key = SettingsKey::open("k", path);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->value("A"), " spaced =x ");  // first occurrence, CR dropped
  EXPECT_EQ(key->value("B"), "");
  EXPECT_EQ(key->value("C"), std::nullopt);  // junk line skipped
  EXPECT_EQ(key->value("D"), "d");
}

TEST_F(SettingsStoreTest, ReplaceInLaterSectionOfSameKey) {
  path = dir.write("registry", "[K]\nA=1\n[L]\nB=2\n[k]\nC=3\n");
  ASSERT_FALSE(setSettingsValue("K", "c", "4", path));
  ASSERT_FALSE(setSettingsValue("K", "D", "5", path));
  EXPECT_EQ(dir.read("registry"), "[K]\nA=1\nD=5\n[L]\nB=2\n[k]\nc=4\n");
  // A file without a final line end.
  path = dir.write("registry", "[K]\nA=1");
  ASSERT_FALSE(setSettingsValue("K", "B", "2", path));
  EXPECT_EQ(dir.read("registry"), "[K]\nA=1\nB=2\n");
}

// --- error paths ---------------------------------------------------------

TEST_F(SettingsStoreTest, MissingEmptyOrJunkFileCannotBeOpened) {
  EXPECT_FALSE(SettingsKey::open("K", dir.file("absent")));
  EXPECT_FALSE(SettingsKey::open("K", dir.write("empty", "")));
  EXPECT_FALSE(SettingsKey::open("K", dir.path()));  // a directory
  std::string junk =
      dir.write("junk", std::string("\0\xff[K\n=\n[]\nK]\n", 13));
  EXPECT_FALSE(SettingsKey::open("K", junk));
  EXPECT_TRUE(SettingsKey::open("", junk));  // "[]" is a section, empty name
  EXPECT_FALSE(SettingsKey::open("Other", dir.write("r", kSample)));
}

TEST_F(SettingsStoreTest, SetRefusesTextsThatBreakTheFormatOrAMissingFolder) {
  auto invalid = std::make_error_code(std::errc::invalid_argument);
  EXPECT_EQ(setSettingsValue("K", "A", "1\n[X]", path), invalid);
  EXPECT_EQ(setSettingsValue("K", "A=B", "1", path), invalid);
  EXPECT_EQ(setSettingsValue("K]", "A", "1", path), invalid);
  EXPECT_EQ(setSettingsValue("K", "#A", "1", path), invalid);
  EXPECT_EQ(setSettingsValue("", "A", "1", path), invalid);
  EXPECT_EQ(setSettingsValue("K", " ", "1", path), invalid);
  EXPECT_EQ(dir.read("registry"), kSample);
  EXPECT_TRUE(setSettingsValue("K", "A", "1", dir.file("no/registry")));
}

}  // namespace
}  // namespace talvo::platform
