// Framing, message buffers and the frame-size limit (pure code).

#include "runtime/transport/frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/transport/message_buffer.h"

namespace talvo {
namespace {

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes body(std::int32_t kind, const std::string& rest) {
  Bytes b{static_cast<std::uint8_t>(kind >> 24),
          static_cast<std::uint8_t>(kind >> 16),
          static_cast<std::uint8_t>(kind >> 8),
          static_cast<std::uint8_t>(kind)};
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}

TEST(FrameRoundTrip, FramesFedByteByByteComeOutWhole) {
  Bytes first = body(0, "request"), second = body(1, "");
  Bytes stream = makeTalvoFrame(first);
  Bytes more = makeTalvoFrame(second);
  stream.insert(stream.end(), more.begin(), more.end());

  FrameAssembler assembler(talvoFrameFormat(), kDefaultMaxMessageSize);
  std::vector<Bytes> frames;
  for (std::uint8_t byte : stream) {
    ByteView view(&byte, 1);
    while (!view.empty() || assembler.midFrame()) {
      auto result = assembler.feed(view);
      if (result == FrameAssembler::Result::kFrame) {
        frames.push_back(assembler.takeFrame());
      } else {
        break;
      }
    }
  }
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0], first);
  EXPECT_EQ(frames[1], second);
  EXPECT_FALSE(assembler.midFrame());
}

TEST(FrameRoundTrip, SeveralFramesInOneFeedStopAtEachFrame) {
  Bytes stream;
  for (int i = 0; i < 3; ++i) {
    Bytes f = makeTalvoFrame(body(i, std::string(i * 5, 'a')));
    stream.insert(stream.end(), f.begin(), f.end());
  }
  FrameAssembler assembler(talvoFrameFormat(), kDefaultMaxMessageSize);
  ByteView view(stream);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(assembler.feed(view), FrameAssembler::Result::kFrame);
    Bytes f = assembler.takeFrame();
    EXPECT_EQ(frameKind(f), i);
    EXPECT_EQ(f.size(), 4u + i * 5);
  }
  EXPECT_TRUE(view.empty());
  EXPECT_EQ(assembler.feed(view), FrameAssembler::Result::kNeedMore);
}

TEST(FrameRoundTrip, GiopFramesKeepTheirHeaderInEitherByteOrder) {
  for (bool little : {false, true}) {
    Bytes msg = bytesOf("GIOP");
    msg.insert(msg.end(), {1, 0, static_cast<std::uint8_t>(little), 0});
    Bytes size = little ? Bytes{3, 0, 0, 0} : Bytes{0, 0, 0, 3};
    msg.insert(msg.end(), size.begin(), size.end());
    msg.insert(msg.end(), {'a', 'b', 'c', 'z'});  // 'z' starts the next one
    FrameAssembler assembler(giopFrameFormat(), 100);
    ByteView view(msg);
    ASSERT_EQ(assembler.feed(view), FrameAssembler::Result::kFrame);
    Bytes frame = assembler.takeFrame();
    EXPECT_EQ(frame.size(), 15u);
    EXPECT_EQ(frame.front(), 'G');
    EXPECT_EQ(frame.back(), 'c');
    EXPECT_EQ(view.size(), 1u);
  }
}

TEST(FrameBoundaries, LimitItselfPassesOneMoreIsRefused) {
  const std::uint32_t limit = 8193;
  Bytes ok = makeTalvoFrame(Bytes(limit, 0));
  FrameAssembler assembler(talvoFrameFormat(), limit);
  ByteView view(ok);
  EXPECT_EQ(assembler.feed(view), FrameAssembler::Result::kFrame);
  EXPECT_EQ(assembler.takeFrame().size(), limit);

  Bytes header = {0, 0, 0x20, 0x02};  // 8194
  view = ByteView(header);
  EXPECT_EQ(assembler.feed(view), FrameAssembler::Result::kTooLarge);
  EXPECT_EQ(assembler.purportedSize(), 8194u);
  // Refused for good: nothing more is taken.
  Bytes rest = {1, 2, 3};
  view = ByteView(rest);
  EXPECT_EQ(assembler.feed(view), FrameAssembler::Result::kTooLarge);
  EXPECT_EQ(view.size(), 3u);
}

TEST(FrameBoundaries, MaxMessageSizeFromTheEnvironmentValue) {
  EXPECT_EQ(parseMaxMessageSize(std::nullopt), 8388608u);
  EXPECT_EQ(parseMaxMessageSize("8192"), 8388608u);
  EXPECT_EQ(parseMaxMessageSize("8193"), 8193u);
  EXPECT_EQ(parseMaxMessageSize("100"), 8388608u);
  EXPECT_EQ(parseMaxMessageSize(""), 8388608u);
  EXPECT_EQ(parseMaxMessageSize("12k"), 8388608u);
  EXPECT_EQ(parseMaxMessageSize("-9000"), 8388608u);
  EXPECT_EQ(parseMaxMessageSize("99999999999"), 8388608u);
  EXPECT_EQ(parseMaxMessageSize("4294967295"), 4294967295u);
}

TEST(FrameBoundaries, KindsAndProtocolDetection) {
  EXPECT_EQ(frameKind(body(3, "")), 3);
  EXPECT_EQ(frameKind(body(-1, "")), -1);
  EXPECT_FALSE(frameKind(Bytes{0, 0, 0}));
  // An optimised channel's bodies are in this process's byte order.
  const std::int32_t reply = 1;
  Bytes native(4);
  std::memcpy(native.data(), &reply, 4);
  EXPECT_EQ(frameKind(native, /*native=*/true), 1);
  EXPECT_TRUE(isKnownKind(0));
  EXPECT_TRUE(isKnownKind(3));
  EXPECT_FALSE(isKnownKind(4));
  EXPECT_FALSE(isKnownKind(-1));
  EXPECT_EQ(detectProtocol(bytesOf("GIOP\1\0")), WireProtocol::kIiop);
  EXPECT_EQ(detectProtocol(bytesOf("GIOX")), WireProtocol::kTalvo);
  EXPECT_EQ(detectProtocol(bytesOf("GIO")), WireProtocol::kTalvo);
  EXPECT_EQ(detectProtocol(Bytes{0, 0, 0, 8}), WireProtocol::kTalvo);
}

TEST(MessageBufferTest, ChunkSizesFollowTheGrowthRule) {
  EXPECT_EQ(MessageBuffer::nextChunkSize(1), 8192u);
  EXPECT_EQ(MessageBuffer::nextChunkSize(8183), 8192u);  // 8184 + 4 = 8188
  EXPECT_EQ(MessageBuffer::nextChunkSize(8185), 8192u + 8192u);  // 8192
  EXPECT_EQ(MessageBuffer::nextChunkSize(10000), 10004u + 8192u);
  EXPECT_EQ(MessageBuffer::nextChunkSize(10001), 10008u + 8192u);

  MessageBuffer small(100);
  EXPECT_EQ(small.chunkCapacities(), std::vector<std::size_t>{8192});
  MessageBuffer big(20000);
  EXPECT_EQ(big.chunkCapacities(), std::vector<std::size_t>{20000});
}

TEST(MessageBufferTest, WritesSpanChunksAndFinishFillsTheLength) {
  MessageBuffer buffer;
  Bytes a(8000, 'a'), b(10000, 'b');
  buffer.write(a);
  buffer.write(b);  // 188 bytes fit, 9812 go to a new chunk
  EXPECT_EQ(buffer.bodySize(), 18000u);
  EXPECT_EQ(buffer.chunkCapacities(),
            (std::vector<std::size_t>{8192, 9816 + 8192}));
  buffer.finish();
  Bytes flat;
  for (auto piece : buffer.pieces())
    flat.insert(flat.end(), piece.begin(), piece.end());
  ASSERT_EQ(flat.size(), 18004u);
  Bytes expected = a;
  expected.insert(expected.end(), b.begin(), b.end());
  EXPECT_EQ(flat, makeTalvoFrame(expected));
}

}  // namespace
}  // namespace talvo
