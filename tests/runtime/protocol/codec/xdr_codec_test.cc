// XDR and NULL codec: wire forms, round trips, short and hostile input.

#include "runtime/protocol/xdr_codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

namespace talvo::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes stringBytes(std::optional<std::string_view> s) {
  XdrEncoder e;
  e.putString(s);
  return e.take();
}

// --- wire forms and round trips -------------------------------------------

TEST(XdrWireForm, SmallIntegersAreWidenedBigEndian) {
  XdrEncoder e;
  e.putShort(-2);
  e.putUShort(0xBEEF);
  e.putChar('\xff');
  e.putBoolean(true);
  e.putOctet(0xAB);
  e.putEnum(2);
  EXPECT_EQ(e.bytes(), (Bytes{0xff, 0xff, 0xff, 0xfe, 0, 0, 0xbe, 0xef,  //
                              0xff, 0xff, 0xff, 0xff, 0, 0, 0,    1,     //
                              0,    0,    0,    0xab, 0, 0, 0,    2}));
}

TEST(XdrWireForm, DoubleHighHalfFirst) {
  XdrEncoder e;
  e.putDouble(1.0);  // 0x3FF0000000000000
  EXPECT_EQ(e.bytes(), (Bytes{0x3f, 0xf0, 0, 0, 0, 0, 0, 0}));
}

TEST(XdrWireForm, StringsEmptyNullAndPadding) {
  EXPECT_EQ(stringBytes(std::nullopt), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(stringBytes(""), (Bytes{0, 0, 0, 1, 0, 0, 0, 0}));
  EXPECT_EQ(stringBytes("abcd"), (Bytes{0, 0, 0, 4, 'a', 'b', 'c', 'd'}));
  EXPECT_EQ(stringBytes("abcde"),
            (Bytes{0, 0, 0, 5, 'a', 'b', 'c', 'd', 'e', 0, 0, 0}));
}

TEST(XdrWireForm, NativeProbeIsMemoryOrder) {
  XdrEncoder e;
  e.putNative8(kProbeValue);
  Bytes expected(8);
  const double probe = kProbeValue;
  std::memcpy(expected.data(), &probe, 8);
  EXPECT_EQ(e.bytes(), expected);
}

template <class Enc, class Dec>
void roundTripAll() {
  Enc e;
  e.putShort(std::numeric_limits<std::int16_t>::min());
  e.putUShort(65535);
  e.putLong(std::numeric_limits<std::int32_t>::min());
  e.putULong(0xFFFFFFFFu);
  e.putChar('z');
  e.putBoolean(false);
  e.putOctet(255);
  e.putEnum(7);
  e.putFloat(-1.5f);
  e.putDouble(6.02e23);
  e.putNative8(kProbeValue);
  e.putString(std::nullopt);
  e.putString("");
  e.putString("hello");
  e.putOctets(Bytes{1, 2, 3});
  e.putOctets(Bytes{});
  const Bytes wire = e.take();
  ASSERT_EQ(wire.size() % 4, 0u);

  Dec d(wire);
  std::int16_t s;
  std::uint16_t us;
  std::int32_t l;
  std::uint32_t ul, en;
  char c;
  bool b;
  std::uint8_t o;
  float f;
  double dd, probe;
  std::optional<std::string> s1, s2, s3;
  Bytes o1, o2;
  ASSERT_TRUE(d.getShort(s) && d.getUShort(us) && d.getLong(l) &&
              d.getULong(ul) && d.getChar(c) && d.getBoolean(b) &&
              d.getOctet(o) && d.getEnum(en) && d.getFloat(f) &&
              d.getDouble(dd) && d.getNative8(probe) && d.getString(s1) &&
              d.getString(s2) && d.getString(s3) && d.getOctets(o1) &&
              d.getOctets(o2));
  EXPECT_EQ(s, std::numeric_limits<std::int16_t>::min());
  EXPECT_EQ(us, 65535);
  EXPECT_EQ(l, std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(ul, 0xFFFFFFFFu);
  EXPECT_EQ(c, 'z');
  EXPECT_FALSE(b);
  EXPECT_EQ(o, 255);
  EXPECT_EQ(en, 7u);
  EXPECT_EQ(f, -1.5f);
  EXPECT_EQ(dd, 6.02e23);
  EXPECT_EQ(probe, kProbeValue);
  EXPECT_FALSE(s1.has_value());
  EXPECT_EQ(s2, "");
  EXPECT_EQ(s3, "hello");
  EXPECT_EQ(o1, (Bytes{1, 2, 3}));
  EXPECT_TRUE(o2.empty());
  EXPECT_EQ(d.remaining(), 0u);
  EXPECT_EQ(d.error(), nullptr);
}

TEST(XdrRoundTrip, EveryItem) { roundTripAll<XdrEncoder, XdrDecoder>(); }
TEST(XdrRoundTrip, EveryItemNullCodec) {
  roundTripAll<NullEncoder, NullDecoder>();
}

// --- boundaries and error paths ---------------------------------------------

TEST(XdrErrors, ShortBufferFailsWithMarshal10161) {
  const Bytes wire{0, 0, 1};
  XdrDecoder d(wire);
  std::uint32_t v;
  EXPECT_FALSE(d.getULong(v));
  Status st = d.error();
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->bareName(), "MARSHAL");
  EXPECT_EQ(st->minor(), kMinorShortBuffer);
  EXPECT_EQ(st->completed(), CORBA::COMPLETED_MAYBE);
}

TEST(XdrErrors, FailureIsSticky) {
  const Bytes wire{0, 0, 0};
  XdrDecoder d(wire);
  double v;
  std::uint8_t o;
  EXPECT_FALSE(d.getDouble(v));
  EXPECT_FALSE(d.getOctet(o));
  EXPECT_EQ(d.error()->minor(), kMinorShortBuffer);
}

TEST(XdrErrors, HugeStringLengthIsRefusedWithoutAllocating) {
  const Bytes wire{0xff, 0xff, 0xff, 0xf0, 'a', 'b', 'c', 'd'};
  XdrDecoder d(wire);
  std::optional<std::string> s;
  EXPECT_FALSE(d.getString(s));
  EXPECT_EQ(d.error()->minor(), kMinorBadLength);
  Bytes o;
  XdrDecoder d2(wire);
  EXPECT_FALSE(d2.getOctets(o));
  EXPECT_EQ(d2.error()->minor(), kMinorBadLength);
}

TEST(XdrErrors, StringMissingPaddingIsShort) {
  Bytes wire = stringBytes("abcde");
  wire.resize(wire.size() - 1);
  XdrDecoder d(wire);
  std::optional<std::string> s;
  EXPECT_FALSE(d.getString(s));
  EXPECT_EQ(d.error()->minor(), kMinorShortBuffer);
}

TEST(XdrErrors, CountLargerThanBytesLeftIsRefused) {
  const Bytes wire{0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 2};
  XdrDecoder d(wire);
  std::uint32_t n;
  EXPECT_FALSE(d.getCount(n, 4));  // three 4-byte elements need 12, 8 left
  const Bytes two{0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 2};
  XdrDecoder d2(two);
  EXPECT_TRUE(d2.getCount(n, 4));
  EXPECT_EQ(n, 2u);
}

// Final NULs end a string; a NUL with text after it is refused, so that no
// name is cut short unnoticed.
TEST(XdrErrors, StringWithEmbeddedNulIsRefused) {
  std::optional<std::string> s;
  const Bytes final_nuls{0, 0, 0, 4, 'a', 0, 0, 0};
  XdrDecoder padded(final_nuls);
  ASSERT_TRUE(padded.getString(s));
  EXPECT_EQ(s, "a");
  const Bytes nul_inside{0, 0, 0, 4, 'a', 0, 'b', 'c'};
  XdrDecoder inside(nul_inside);
  EXPECT_FALSE(inside.getString(s));
}

}  // namespace
}  // namespace talvo::protocol
