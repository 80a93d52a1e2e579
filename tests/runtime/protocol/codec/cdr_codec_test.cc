// CDR ("UNO") codec: alignment from the message start, byte orders,
// encapsulations, hostile lengths.

#include "runtime/protocol/cdr_codec.h"

#include <gtest/gtest.h>

namespace talvo::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

// --- round trips
// --------------------------------------------------------------

TEST(CdrRoundTrip, MixedItemsWithAlignment) {
  CdrEncoder e;
  e.putOctet(7);
  e.putLong(-5);  // aligned to 4: three padding bytes first
  e.putShort(3);
  e.putDouble(2.5);  // aligned to 8
  e.putString("IR");
  e.putBoolean(true);
  e.putOctets(Bytes{9, 8});
  e.putEnum(2);
  ASSERT_EQ(e.bytes().size(),
            1u + 3 + 4 + 2 + 6 + 8 + 4 + 3 + 1 + 4 + 2 + 2 + 4);
  CdrDecoder d(e.bytes(), CdrEncoder::kLittleEndian);
  std::uint8_t o;
  std::int32_t l;
  std::int16_t s;
  double dd;
  std::optional<std::string> str;
  bool b;
  Bytes oct;
  std::uint32_t en;
  ASSERT_TRUE(d.getOctet(o) && d.getLong(l) && d.getShort(s) &&
              d.getDouble(dd) && d.getString(str) && d.getBoolean(b) &&
              d.getOctets(oct) && d.getEnum(en));
  EXPECT_EQ(o, 7);
  EXPECT_EQ(l, -5);
  EXPECT_EQ(s, 3);
  EXPECT_EQ(dd, 2.5);
  EXPECT_EQ(str, "IR");
  EXPECT_TRUE(b);
  EXPECT_EQ(oct, (Bytes{9, 8}));
  EXPECT_EQ(en, 2u);
  EXPECT_EQ(d.remaining(), 0u);
}

TEST(CdrRoundTrip, AlignmentCountsFromMessageStart) {
  // A body that starts after a 12-byte header: a long at body offset 0 is at
  // message offset 12, aligned already; an origin of 13 needs 3 pad bytes.
  CdrEncoder at12(12);
  at12.putLong(1);
  EXPECT_EQ(at12.bytes().size(), 4u);
  CdrEncoder at13(13);
  at13.putLong(1);
  EXPECT_EQ(at13.bytes().size(), 7u);
  CdrDecoder d(at13.bytes(), CdrEncoder::kLittleEndian, 13);
  std::int32_t v;
  ASSERT_TRUE(d.getLong(v));
  EXPECT_EQ(v, 1);
}

TEST(CdrRoundTrip, ReadsBothByteOrders) {
  const Bytes big{0, 0, 0x01, 0x02, 0x12, 0x34};
  const Bytes little{0x02, 0x01, 0, 0, 0x34, 0x12};
  for (bool le : {false, true}) {
    CdrDecoder d(le ? little : big, le);
    std::uint32_t v;
    std::uint16_t s;
    ASSERT_TRUE(d.getULong(v) && d.getUShort(s));
    EXPECT_EQ(v, 0x0102u);
    EXPECT_EQ(s, 0x1234u);
  }
}

TEST(CdrRoundTrip, StringCountsItsNul) {
  CdrEncoder e;
  e.putString("ab");
  e.putString(std::nullopt);  // no null string in CDR: written empty
  CdrDecoder d(e.bytes(), CdrEncoder::kLittleEndian);
  std::uint32_t n;
  ASSERT_TRUE(d.getULong(n));
  EXPECT_EQ(n, 3u);
  CdrDecoder d2(e.bytes(), CdrEncoder::kLittleEndian);
  std::optional<std::string> a, b;
  ASSERT_TRUE(d2.getString(a) && d2.getString(b));
  EXPECT_EQ(a, "ab");
  EXPECT_EQ(b, "");
}

TEST(CdrRoundTrip, EncapsulationAlignsFromItsOwnStart) {
  CdrEncoder inner;
  inner.beginEncapsulation();
  inner.putLong(42);  // offset 1 within the encapsulation: pads to 4
  EXPECT_EQ(inner.bytes().size(), 8u);
  CdrEncoder outer;
  outer.putOctet(0);
  outer.putEncapsulation(inner);
  CdrDecoder d(outer.bytes(), CdrEncoder::kLittleEndian);
  std::uint8_t o;
  ASSERT_TRUE(d.getOctet(o));
  auto enc = d.getEncapsulation();
  ASSERT_NE(enc, nullptr);
  std::int32_t v;
  ASSERT_TRUE(enc->getLong(v));
  EXPECT_EQ(v, 42);
}

// --- error paths ----------------------------------------------------------

TEST(CdrErrors, HostileLengthsAreMarshalErrors) {
  const Bytes wire{0xff, 0xff, 0xff, 0x7f, 'a', 'b'};
  CdrDecoder d(wire, true);
  std::optional<std::string> s;
  EXPECT_FALSE(d.getString(s));
  EXPECT_EQ(d.error()->minor(), kMinorBadLength);
  CdrDecoder d2(wire, true);
  Bytes o;
  EXPECT_FALSE(d2.getOctets(o));
  CdrDecoder d3(wire, true);
  EXPECT_EQ(d3.getEncapsulation(), nullptr);
  EXPECT_TRUE(d3.failed());
}

TEST(CdrErrors, AlignmentPaddingBeyondEndIsShort) {
  const Bytes wire{1, 0, 0};
  CdrDecoder d(wire, true);
  std::uint8_t o;
  std::uint32_t v;
  ASSERT_TRUE(d.getOctet(o));
  EXPECT_FALSE(d.getULong(v));
  EXPECT_EQ(d.error()->minor(), kMinorShortBuffer);
}

TEST(CdrErrors, BadBooleanAndBadByteOrderOctet) {
  const Bytes wire{2};
  CdrDecoder d(wire, true);
  bool b;
  EXPECT_FALSE(d.getBoolean(b));
  EXPECT_EQ(openEncapsulation(Bytes{}), nullptr);
  const Bytes bad{7, 0, 0, 0};
  EXPECT_EQ(openEncapsulation(bad), nullptr);
}

}  // namespace
}  // namespace talvo::protocol
