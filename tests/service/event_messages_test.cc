// The event-log message table and its insertion strings.

#include "service/event_messages.h"

#include <gtest/gtest.h>

namespace talvo::service {
namespace {

TEST(EventMessagesTest, TableTexts) {
  EXPECT_EQ(formatEventMessage(100, {"Talvo Daemon"}),
            "The Talvo Daemon service was installed.\r\n");
  EXPECT_EQ(formatEventMessage(101, {"Talvo Daemon"}),
            "The Talvo Daemon service was removed.\r\n");
  EXPECT_EQ(formatEventMessage(102, {"Talvo Daemon"}),
            "The Talvo Daemon service could not be removed.\r\n");
  EXPECT_EQ(formatEventMessage(103, {}),
            "The control handler could not be installed.\r\n");
  EXPECT_EQ(formatEventMessage(104, {}),
            "The initialization process failed.\r\n");
  EXPECT_EQ(formatEventMessage(105, {}), "The service was started.\r\n");
  EXPECT_EQ(formatEventMessage(106, {}),
            "The service received an unsupported request.\r\n");
  EXPECT_EQ(formatEventMessage(107, {"x"}), "Debug: x\r\n");
  EXPECT_EQ(formatEventMessage(108, {}), "The service was stopped.\r\n");
}

TEST(EventMessagesTest, MissingInsertionsAndUnknownIds) {
  // An insertion string that is not given leaves its marker.
  EXPECT_EQ(formatEventMessage(100, {}), "The %1 service was installed.\r\n");
  // Insertion text is not scanned again for markers.
  EXPECT_EQ(formatEventMessage(107, {"%1 %2"}), "Debug: %1 %2\r\n");
  EXPECT_EQ(eventMessageTemplate(99), nullptr);
  EXPECT_EQ(eventMessageTemplate(109), nullptr);
  EXPECT_NE(formatEventMessage(109, {}).find("109"), std::string::npos);
}

}  // namespace
}  // namespace talvo::service
