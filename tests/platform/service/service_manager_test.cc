// Unit files in the service directory.

#include "platform/service_manager.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "../../daemon/talvod_process.h"

namespace talvo::platform {
namespace {

TEST(ServiceManagerTest, ExecStartIsQuotedAndEscaped) {
  std::string text = unitFileText("Talvo Daemon", "/opt/my dir/%h$x\\\"d");
  EXPECT_NE(text.find("\nExecStart=\"/opt/my dir/%%h$$x\\\\\\\"d\"\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\nType=notify\n"), std::string::npos);
  EXPECT_NE(text.find("\nKillSignal=SIGUSR1\n"), std::string::npos);
  EXPECT_NE(text.find("Description=Talvo Daemon\n"), std::string::npos);
}

TEST(ServiceManagerTest, ShippedSampleIsWhatInstallWrites) {
  auto sample = std::filesystem::path(__FILE__).parent_path() /
                "../../../etc/talvo-daemon.service";
  EXPECT_EQ(testing::readFile(sample.string()),
            unitFileText("Talvo Daemon", "/usr/local/bin/talvod"));
}

TEST(ServiceManagerTest, WriteExistsRemove) {
  testing::TempDir dir;
  ::setenv("QV_SERVICE_DIR", dir.path().c_str(), 1);
  EXPECT_FALSE(unitFileExists("Talvo Daemon"));
  ASSERT_EQ(writeUnitFile("Talvo Daemon", "/bin/talvod"), 0);
  EXPECT_TRUE(unitFileExists("Talvo Daemon"));
  EXPECT_EQ(testing::readFile(dir.file("talvo-daemon.service")),
            unitFileText("Talvo Daemon", "/bin/talvod"));
  EXPECT_EQ(removeUnitFile("Talvo Daemon"), 0);
  EXPECT_EQ(removeUnitFile("Talvo Daemon"), ENOENT);
  ::setenv("QV_SERVICE_DIR", dir.file("missing").c_str(), 1);
  EXPECT_EQ(writeUnitFile("Talvo Daemon", "/bin/talvod"), ENOENT);
  ::unsetenv("QV_SERVICE_DIR");
}

}  // namespace
}  // namespace talvo::platform
