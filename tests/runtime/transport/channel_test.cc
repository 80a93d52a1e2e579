// Channel type queries, connection trace texts and socket failure texts.

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
  EXPECT_EQ(tcp.typeQuery(""), nullptr);
  TalvoChannel plain;
  EXPECT_EQ(plain.typeQuery("TalvoTCPChannel"), nullptr);
  EXPECT_EQ(plain.typeQuery("Channel"), &plain);
}

TEST(ChannelTraceText, BrokerConnectionLines) {
  TalvoTCPChannel ch;
  EXPECT_EQ(ch.newConnectionText(), "New Connection (,,,0.0.0.0:0,pid=0) ]");
  EXPECT_EQ(ch.endConnectionText(), "End of Connection (,,,0.0.0.0:0) ]");
  ch.setHostName("alpha.example");
  ch.setServerName("bank");
  ch.setMarker("m1");
  ch.setProcessId(4711);
  ch.setOptimised(true);
  EXPECT_EQ(ch.newConnectionText(),
            "New Connection (alpha.example,bank,m1,0.0.0.0:0,pid=4711,"
            "optimised) ]");
  EXPECT_EQ(ch.endConnectionText(),
            "End of Connection (alpha.example,bank,m1,0.0.0.0:0,pid=4711) ]");
}

TEST(ChannelTraceText, IiopConnectionLines) {
  TalvoTCPChannel ch;
  ch.setProtocolKind(kIiopProtocolKind);
  ch.setHostName("beta");
  ch.setPeerDescription("orb 1");
  EXPECT_EQ(ch.newConnectionText(), "New IIOP Connection (beta:orb 1) ]");
  EXPECT_EQ(ch.endConnectionText(), "End of IIOP Connection (beta:orb 1) ]");
}

TEST(SocketFailureText, DetailsNameTheWinsockError) {
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
}

TEST(SocketFailureText, InterfaceFailures) {
  struct {
    WsiError error;
    const char* text;
  } cases[] = {
      {WsiError::kInvalidSocket, "WSI Error: Operation On Invalid Socket"},
      {static_cast<WsiError>(99), "WSI Error: Unknown Error Type"},
  };
  for (const auto& c : cases) {
    Status s = wsiFailure(c.error);
    EXPECT_EQ(s->minor(), 10088u);
    EXPECT_EQ(*s->detail(), c.text);
  }
}

}  // namespace
}  // namespace talvo
