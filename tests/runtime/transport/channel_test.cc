// Channel type queries and socket failure texts.

#include "runtime/transport/channel.h"

#include <gtest/gtest.h>

#include "runtime/transport/socket_failure.h"

namespace talvo {
namespace {

TEST(ChannelTypeQuery, EachClassAnswersForItselfAndItsBases) {
  TalvoTCPChannel tcp;
  EXPECT_EQ(tcp.typeQuery("TalvoTCPChannel"), &tcp);
  EXPECT_EQ(tcp.typeQuery("TalvoChannel"), &tcp);
  EXPECT_EQ(tcp.typeQuery("Channel"), &tcp);
  EXPECT_EQ(tcp.typeQuery("IIOPChannel"), nullptr);
  TalvoChannel plain;
  EXPECT_EQ(plain.typeQuery("TalvoTCPChannel"), nullptr);
  EXPECT_EQ(plain.typeQuery("Channel"), &plain);
}

TEST(SocketFailureText, DetailsNameTheWinsockOrInterfaceError) {
  Status s = socketFailure(kMinorSocket, 10093);
  EXPECT_EQ(s->bareName(), "COMM_FAILURE");
  EXPECT_EQ(s->minor(), 10088u);
  EXPECT_EQ(s->completed(), CORBA::COMPLETED_NO);
  EXPECT_EQ(*s->detail(), "Windows Sockets Error: WSANOTINITIALISED");
  EXPECT_EQ(*socketFailure(kMinorReceive, 11004)->detail(),
            "Windows Sockets Error: WSANO_DATA");
  EXPECT_EQ(*socketFailure(kMinorSend, 12345)->detail(),
            "Windows Sockets Error: UNKNOWN");
  EXPECT_EQ(lastErrorText(0), "Unknown Winsock error.");
  EXPECT_EQ(lastErrorText(10061), "Windows Sockets Error: WSAECONNREFUSED");
  EXPECT_EQ(*wsiFailure(static_cast<WsiError>(99))->detail(),
            "WSI Error: Unknown Error Type");
}

}  // namespace
}  // namespace talvo
