// The connection trace texts of a session, in the forms of both protocols.

#include "runtime/orb/session.h"

#include <gtest/gtest.h>

namespace talvo {
namespace {

TEST(SessionTraceText, BrokerAndIiopConnectionLines) {
  TalvoTCPChannel ch;
  Session s;
  EXPECT_EQ(s.newConnectionText(ch), "New Connection (,,,0.0.0.0:0,pid=0) ]");
  EXPECT_EQ(s.endConnectionText(ch), "End of Connection (,,,0.0.0.0:0) ]");
  s.info.host_name = "alpha.example";
  s.info.server_name = "bank";
  s.info.marker = "m1";
  s.info.pid = 4711;
  s.info.optimised = true;
  EXPECT_EQ(s.newConnectionText(ch),
            "New Connection (alpha.example,bank,m1,0.0.0.0:0,pid=4711,"
            "optimised) ]");
  EXPECT_EQ(s.endConnectionText(ch),
            "End of Connection (alpha.example,bank,m1,0.0.0.0:0,pid=4711) ]");

  s.info.protocol = protocol::ProtocolKind::kIiop;
  s.info.host_name = "beta";
  s.peer_description = "orb 1";
  EXPECT_EQ(s.newConnectionText(ch), "New IIOP Connection (beta:orb 1) ]");
  EXPECT_EQ(s.endConnectionText(ch), "End of IIOP Connection (beta:orb 1) ]");
}

}  // namespace
}  // namespace talvo
