// Unit files in the service directory.

#include "platform/service_manager.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace talvo::platform {
namespace {

TEST(ServiceManagerTest, ExecStartIsQuotedAndEscaped) {
  std::string text = unitFileText("Talvo Daemon", "/opt/my dir/%h$x\\\"d");
  EXPECT_NE(text.find("\nExecStart=\"/opt/my dir/%%h$$x\\\\\\\"d\"\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\nType=notify\n"), std::string::npos);
  EXPECT_NE(text.find("\nKillSignal=SIGUSR1\nSuccessExitStatus=3\n"
                      "KillMode=process\n"),
            std::string::npos);
  EXPECT_NE(text.find("Description=Talvo Daemon\n"), std::string::npos);
}

// The build fills in the installed program's path.
TEST(ServiceManagerTest, ShippedUnitIsWhatInstallWrites) {
  auto sample = std::filesystem::path(__FILE__).parent_path() /
                "../../../etc/talvo-daemon.service.in";
  EXPECT_EQ(testing::readFile(sample.string()),
            unitFileText("Talvo Daemon", "@TALVOD_INSTALLED@"));
}

}  // namespace
}  // namespace talvo::platform
