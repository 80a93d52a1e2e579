// The Orb's reading of its connections: messages gathered from bytes in any
// pieces (on byte buffers), and over loopback what raw peers see: a request
// without a binding, frames over the limit, unknown message kinds, the
// integrity check, and GIOP with and without an IIOP handler.

#include <gtest/gtest.h>

#include "orb_test_util.h"
#include "runtime/orb/connection.h"
#include "runtime/protocol/message.h"
#include "support/runtime_peer.h"
#include "support/wait.h"

namespace talvo::testing {
namespace {

using protocol::Value;

const Bytes kGiop = {'G', 'I', 'O', 'P', 1, 0, 1, 0, 2, 0, 0, 0, 'o', 'k'};

// The messages a reader gives for `stream` fed in pieces of `piece` bytes.
std::vector<Bytes> readAll(MessageReader& reader, const Bytes& stream,
                           std::size_t piece) {
  std::vector<Bytes> out;
  for (std::size_t at = 0; at < stream.size(); at += piece) {
    reader.append(
        ByteView(stream).subspan(at, std::min(piece, stream.size() - at)));
    Bytes m;
    while (reader.next(m) == MessageReader::Next::kMessage) out.push_back(m);
  }
  return out;
}

TEST(MessageReaderTest, FirstBytesChooseTheProtocolPiecesMakeWholeMessages) {
  Bytes stream = makeTalvoFrame(Bytes{0, 0, 0, 1, 'a'});
  const Bytes second = makeTalvoFrame(Bytes{0, 0, 0, 3});
  stream.insert(stream.end(), second.begin(), second.end());
  Bytes giop_stream = kGiop;
  giop_stream.insert(giop_stream.end(), kGiop.begin(), kGiop.end());
  for (std::size_t piece : {1, 3, 100}) {
    MessageReader broker(100, false);
    EXPECT_EQ(readAll(broker, stream, piece),
              (std::vector<Bytes>{{0, 0, 0, 1, 'a'}, {0, 0, 0, 3}}));
    EXPECT_EQ(broker.protocol(), WireProtocol::kTalvo);
    MessageReader iiop(100, false);
    EXPECT_EQ(readAll(iiop, giop_stream, piece),
              (std::vector<Bytes>{kGiop, kGiop}));
    EXPECT_EQ(iiop.protocol(), WireProtocol::kIiop);
  }
  // A connection this process made is the broker's from the start: "GIOP"
  // there is a length.
  MessageReader mine(100, true);
  EXPECT_TRUE(mine.decided());
  mine.append(kGiop);
  Bytes m;
  EXPECT_EQ(mine.next(m), MessageReader::Next::kTooLarge);
  EXPECT_EQ(mine.purportedSize(), 0x47494F50u);
}

class OrbWireTest : public ::testing::Test {
 protected:
  // A whoAmI request with id 9, framed.
  Bytes whoAmI() {
    protocol::Signature sig;
    EXPECT_EQ(protocol::parseSignature(kWhoAmI, sig), nullptr);
    auto enc = protocol::makeEncoder(protocol::CodecKind::kXdr);
    std::vector<Value> args(2);
    EXPECT_EQ(
        protocol::encodeRequest(
            *enc, server.target().ref.requestHeader("whoAmI", 9), sig, args),
        nullptr);
    return makeTalvoFrame(enc->bytes());
  }

  AccountServer server{false, "8193"};
};

// A peer that skips the binding is served with no user name and pid 0;
// frames of unknown kinds are dropped, and one over the limit closes the
// connection with its trace lines.
TEST_F(OrbWireTest, UnboundPeerUnknownKindsAndTooLargeFrames) {
  RawPeer peer(server.port);
  Bytes stream = makeTalvoFrame(Bytes{0, 0, 0, 4, 1, 2});  // kind 4
  const Bytes no_kind = makeTalvoFrame(Bytes{0, 0});
  const Bytes request = whoAmI();
  for (const Bytes* b : {&no_kind, &request}) {
    stream.insert(stream.end(), b->begin(), b->end());
  }
  peer.send(stream);
  const Bytes reply = peer.receive(12);
  ASSERT_GE(reply.size(), 12u);
  EXPECT_EQ(reply[7], 1);  // kind 1: a normal reply
  {
    std::lock_guard lock(server.seen.mu);
    EXPECT_EQ(server.seen.principal, "");
    EXPECT_EQ(server.seen.pid, 0u);
  }

  // The limit itself passes; one byte more closes the connection.
  Bytes limit = makeTalvoFrame(Bytes(8193, 0));
  limit[7] = 9;  // kind 9: dropped
  peer.send(limit);
  peer.send(Bytes{0, 0, 0x20, 0x02});  // 8194 bytes announced
  EXPECT_TRUE(peer.closedBy());
  ASSERT_TRUE(eventually([&] { return server.context.count("End of") > 0; }));
  const std::vector<std::string> lines = server.context.lines();
  ASSERT_GE(lines.size(), 4u);
  const std::size_t at = lines.size() - 4;
  EXPECT_EQ(lines[at].rfind("Got too large a message, from client: ", 0), 0u);
  EXPECT_NE(lines[at].find(", on host: 127.0.0.1."), std::string::npos);
  EXPECT_EQ(lines[at + 1], "Purported size was: 8194 Max allowed is 8193");
  EXPECT_EQ(lines[at + 2], "Closing connection.");
  EXPECT_EQ(lines[at + 3].rfind("[test: End of Connection (", 0), 0u);
}

TEST_F(OrbWireTest, GiopGoesToTheIiopHandlerOrIsRefusedIntegrityChecked) {
  // The handler and the integrity check are set while the loop stands.
  server.server->stop();
  server.server->orb.setIiopHandler(nullptr);
  ServerThread::restart(*server.server);
  RawPeer refused(server.port);
  refused.send(kGiop);
  EXPECT_TRUE(refused.closedBy());
  server.server->stop();
  struct Handler : IiopHandler {
    Bytes first;
    std::atomic<int> count{0};
    void onMessage(Channel&, ByteView m) override {
      if (count == 0) first.assign(m.begin(), m.end());
      ++count;
    }
  } handler;
  Orb& orb = server.server->orb;
  orb.setIiopHandler(&handler);
  orb.setIntegrityCheck([](ByteView frame) -> std::optional<std::string> {
    if (frame.size() > 200) return "bad seal";
    return std::nullopt;
  });
  ServerThread::restart(*server.server);
  RawPeer giop(server.port);
  giop.send(kGiop);
  RawPeer sealed(server.port);
  sealed.send(makeTalvoFrame(Bytes(300, 0)));
  EXPECT_TRUE(sealed.closedBy());
  ASSERT_TRUE(eventually([&] { return handler.count > 0; }));
  EXPECT_EQ(handler.first, kGiop);
  server.server->stop();
}

}  // namespace
}  // namespace talvo::testing
