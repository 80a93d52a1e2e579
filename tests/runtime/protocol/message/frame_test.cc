// Framing, message buffers and the frame-size limit (pure code). Bytes in
// pieces and the choice of protocol are exercised through the Orb's
// MessageReader (tests/runtime/orb/orb_wire_test.cc).

#include "runtime/protocol/frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/protocol/message_buffer.h"

namespace talvo {
namespace {

TEST(FrameRoundTrip, GiopFramesKeepTheirHeaderInEitherByteOrder) {
  for (bool little : {false, true}) {
    Bytes msg = {'G', 'I', 'O', 'P', 1, 0, static_cast<std::uint8_t>(little),
                 0};
    Bytes size = little ? Bytes{3, 0, 0, 0} : Bytes{0, 0, 0, 3};
    msg.insert(msg.end(), size.begin(), size.end());
    msg.insert(msg.end(), {'a', 'b', 'c', 'z'});  // 'z' starts the next one
    FrameAssembler assembler(giopFrameFormat(), 100);
    ByteView view(msg);
    ASSERT_EQ(assembler.feed(view), FrameAssembler::Result::kFrame);
    Bytes frame = assembler.takeFrame();
    EXPECT_EQ(frame.size(), 15u);
    EXPECT_EQ(frame.back(), 'c');
    EXPECT_EQ(view.size(), 1u);
    EXPECT_FALSE(assembler.midFrame());
  }
}

TEST(FrameBoundaries, LimitItselfPassesOneMoreIsRefusedForGood) {
  const std::uint32_t limit = 8193;
  Bytes ok = makeTalvoFrame(Bytes(limit, 0));
  FrameAssembler assembler(talvoFrameFormat(), limit);
  ByteView view(ok);
  EXPECT_EQ(assembler.feed(view), FrameAssembler::Result::kFrame);
  EXPECT_EQ(assembler.takeFrame().size(), limit);

  Bytes header = {0, 0, 0x20, 0x02, 1, 2, 3};  // 8194
  view = ByteView(header);
  EXPECT_EQ(assembler.feed(view), FrameAssembler::Result::kTooLarge);
  EXPECT_EQ(assembler.purportedSize(), 8194u);
  EXPECT_EQ(assembler.feed(view), FrameAssembler::Result::kTooLarge);
  EXPECT_EQ(view.size(), 3u);  // nothing more is taken
}

TEST(FrameBoundaries, MaxMessageSizeKindsAndDetection) {
  for (const auto& [value, limit] :
       std::vector<std::pair<std::optional<std::string>, std::uint32_t>>{
           {std::nullopt, 8388608u},
           {"8192", 8388608u},
           {"8193", 8193u},
           {"", 8388608u},
           {"12k", 8388608u},
           {"-9000", 8388608u},
           {"99999999999", 8388608u},
           {"4294967295", 4294967295u}}) {
    EXPECT_EQ(parseMaxMessageSize(value), limit) << value.value_or("unset");
  }
  EXPECT_EQ(frameKind(Bytes{0xff, 0xff, 0xff, 0xff}), -1);
  EXPECT_FALSE(frameKind(Bytes{0, 0, 0}));
  // An optimised channel's bodies are in this process's byte order.
  const std::int32_t reply = 1;
  Bytes native(4);
  std::memcpy(native.data(), &reply, 4);
  EXPECT_EQ(frameKind(native, /*native=*/true), 1);
  EXPECT_TRUE(isKnownKind(3) && !isKnownKind(4) && !isKnownKind(-1));
  EXPECT_EQ(detectProtocol(Bytes{'G', 'I', 'O', 'X'}), WireProtocol::kTalvo);
  EXPECT_EQ(detectProtocol(Bytes{'G', 'I', 'O'}), WireProtocol::kTalvo);
}

TEST(MessageBufferTest, ChunksFollowTheGrowthRuleAndFinishFillsTheLength) {
  EXPECT_EQ(MessageBuffer::nextChunkSize(8183), 8192u);  // 8184 + 4 = 8188
  EXPECT_EQ(MessageBuffer::nextChunkSize(8185), 8192u + 8192u);  // 8192
  EXPECT_EQ(MessageBuffer::nextChunkSize(10001), 10008u + 8192u);
  EXPECT_EQ(MessageBuffer(20000).chunkCapacities(),
            std::vector<std::size_t>{20000});

  MessageBuffer buffer;
  Bytes a(8000, 'a'), b(10000, 'b');
  buffer.write(a);
  buffer.write(b);  // 188 bytes fit, 9812 go to a new chunk
  EXPECT_EQ(buffer.bodySize(), 18000u);
  EXPECT_EQ(buffer.chunkCapacities(),
            (std::vector<std::size_t>{8192, 9816 + 8192}));
  buffer.finish();
  Bytes flat;
  for (auto piece : buffer.pieces()) {
    flat.insert(flat.end(), piece.begin(), piece.end());
  }
  Bytes expected = a;
  expected.insert(expected.end(), b.begin(), b.end());
  EXPECT_EQ(flat, makeTalvoFrame(expected));
}

}  // namespace
}  // namespace talvo
