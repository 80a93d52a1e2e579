// The event-log message table and its insertion strings.

#include "service/event_messages.h"

#include <gtest/gtest.h>

namespace talvo::service {
namespace {

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
