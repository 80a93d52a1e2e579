#include "platform/system_info.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/environment.h"

namespace talvo::platform {
namespace {

TEST(SystemInfo, NamesAndIds) {
  std::string user = userName();
  EXPECT_FALSE(user.empty());
  EXPECT_LE(user.size(), kMaxUserName);
  auto host = hostName();
  ASSERT_TRUE(host);
  EXPECT_FALSE(host->empty());
  EXPECT_EQ(processId(), static_cast<unsigned long>(::getpid()));
  TimeOfDay t = localTimeOfDay();
  EXPECT_TRUE(t.hours >= 0 && t.hours < 24 && t.minutes >= 0 &&
              t.minutes < 60 && t.seconds >= 0 && t.seconds <= 60);
}

TEST(Environment, SetGetUnsetAndEmptyIsUnset) {
  const std::string name = "TALVO_PLATFORM_TEST_VAR";
  ASSERT_TRUE(setEnv(name, "v"));
  EXPECT_EQ(getEnv(name), "v");
  ASSERT_TRUE(setEnv(name, ""));
  EXPECT_EQ(getEnv(name), std::nullopt);
  ASSERT_TRUE(unsetEnv(name));
  EXPECT_EQ(getEnv(name), std::nullopt);
  EXPECT_FALSE(setEnv("A=B", "v"));
  EXPECT_FALSE(setEnv("", "v"));
  EXPECT_EQ(getEnv(""), std::nullopt);
}

}  // namespace
}  // namespace talvo::platform
