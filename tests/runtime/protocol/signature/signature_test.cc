// Operation signatures: reading, marshalling in both directions and both
// reply orders, parameter descriptions and dynamic signatures.

#include "runtime/protocol/signature.h"

#include <gtest/gtest.h>

#include "runtime/protocol/cdr_codec.h"
#include "runtime/protocol/xdr_codec.h"

namespace talvo::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::string_view kLookUp =
    "Ro~lookUp~+service{0},-hostList{S{0},0},+hops{o},+tag{0},>{b},N{}";

Signature sigOf(std::string_view text) {
  Signature s;
  Status st = parseSignature(text, s);
  EXPECT_EQ(st, nullptr) << text;
  return s;
}

// --- reading signatures
// -------------------------------------------------------

TEST(SignatureText, LookUpReadsAndWritesBack) {
  const Signature s = sigOf(kLookUp);
  EXPECT_EQ(s.operation, "lookUp");
  ASSERT_EQ(s.parameters.size(), 4u);
  EXPECT_EQ(s.parameters[0].direction, Direction::kIn);
  EXPECT_EQ(s.parameters[1].direction, Direction::kOut);
  EXPECT_EQ(s.parameters[1].name, "hostList");
  EXPECT_EQ(s.parameters[1].type.kind, TypeKind::kSequence);
  EXPECT_EQ(s.parameters[2].type.kind, TypeKind::kOctet);
  EXPECT_EQ(s.result.kind, TypeKind::kBoolean);
  EXPECT_FALSE(s.oneway());
  EXPECT_EQ(formatSignature(s), kLookUp);
}

TEST(SignatureText, NoParametersInoutAndOneway) {
  const Signature ping = sigOf("Ro~_QV_PING~,>{v},N{}");
  EXPECT_TRUE(ping.parameters.empty());
  EXPECT_EQ(ping.result.kind, TypeKind::kVoid);
  const Signature s = sigOf("Ro~tick~*count{l},>{v},O{}");
  EXPECT_EQ(s.parameters[0].direction, Direction::kInOut);
  EXPECT_TRUE(s.oneway());
}

TEST(SignatureText, MalformedSignaturesAreRefused) {
  for (std::string_view text :
       {"", "Ro~", "Ro~~,>{v},N{}", "Ro~op~,>{v},N", "Ro~op~,>{v},N{}x",
        "Ro~op~?a{l},>{v},N{}", "Ro~op~+{l},>{v},N{}", "Ro~op~+a{l}>{v},N{}",
        "Ro~op~+a{l},,>{v},N{}", "Ro~op~,>{q},N{}", "Ro~op~,>{v},"}) {
    Signature s;
    Status st = parseSignature(text, s);
    ASSERT_NE(st, nullptr) << text;
    EXPECT_EQ(st->minor(), kMinorBadType);
  }
}

// --- marshalling ---------------------------------------------------------

TEST(SignatureMarshal, RequestCarriesInArgumentsOnly) {
  const Signature s = sigOf(kLookUp);
  const std::vector<Value> args = {Value::ofString("svc"), Value(),
                                   Value::ofOctet(3), Value::ofString("t")};
  XdrEncoder e;
  ASSERT_EQ(marshalRequestArgs(e, s, args), nullptr);
  XdrEncoder expected;
  expected.putString("svc");
  expected.putOctet(3);
  expected.putString("t");
  EXPECT_EQ(e.bytes(), expected.bytes());

  XdrDecoder d(e.bytes());
  std::vector<Value> back;
  ASSERT_EQ(unmarshalRequestArgs(d, s, back), nullptr);
  EXPECT_EQ(back[0].text(), "svc");
  EXPECT_TRUE(back[1].isVoid());
  EXPECT_EQ(back[2].as<std::uint8_t>(), 3);
}

TEST(SignatureMarshal, ReplyOrderDependsOnProtocol) {
  const Signature s = sigOf(kLookUp);
  std::vector<Value> args(4);
  args[1] = Value::ofStrings({"a", "b"});
  const Value result = Value::ofBool(true);

  XdrEncoder talvo;
  ASSERT_EQ(marshalReplyArgs(talvo, s, ProtocolKind::kTalvo, args, result),
            nullptr);
  XdrEncoder outs_then_result;
  outs_then_result.putCount(2);
  outs_then_result.putString("a");
  outs_then_result.putString("b");
  outs_then_result.putBoolean(true);
  EXPECT_EQ(talvo.bytes(), outs_then_result.bytes());

  CdrEncoder iiop;
  ASSERT_EQ(marshalReplyArgs(iiop, s, ProtocolKind::kIiop, args, result),
            nullptr);
  EXPECT_EQ(iiop.bytes().front(), 1);  // the boolean result comes first

  for (auto [kind, bytes] : {std::pair{ProtocolKind::kTalvo, talvo.bytes()},
                             std::pair{ProtocolKind::kIiop, iiop.bytes()}}) {
    auto d =
        kind == ProtocolKind::kTalvo
            ? makeDecoder(CodecKind::kXdr, bytes)
            : makeDecoder(CodecKind::kCdr, bytes, CdrEncoder::kLittleEndian);
    std::vector<Value> back(4);
    Value r;
    ASSERT_EQ(unmarshalReplyArgs(*d, s, kind, back, r), nullptr);
    EXPECT_EQ(back[1], args[1]);
    EXPECT_EQ(r, result);
  }
}

TEST(SignatureMarshal, VoidResultWritesNothing) {
  const Signature s = sigOf("Ro~get~-a{l},>{v},N{}");
  const std::vector<Value> args = {Value::ofLong(7)};
  XdrEncoder e;
  ASSERT_EQ(marshalReplyArgs(e, s, ProtocolKind::kIiop, args, Value()),
            nullptr);
  EXPECT_EQ(e.bytes(), (Bytes{0, 0, 0, 7}));
}

TEST(SignatureMarshal, EnumTravelsAsItsPosition) {
  const Signature s = sigOf(
      "Ro~st~+s{E~LaunchStatus~inActive,manualLaunch,automaticLaunch},>{v},N{"
      "}");
  XdrEncoder e;
  ASSERT_EQ(marshalRequestArgs(e, s, std::vector{Value::ofEnum(2)}), nullptr);
  EXPECT_EQ(e.bytes(), (Bytes{0, 0, 0, 2}));
  XdrEncoder bad;
  EXPECT_NE(marshalRequestArgs(bad, s, std::vector{Value::ofEnum(3)}), nullptr);
  const Bytes three{0, 0, 0, 3};
  XdrDecoder d(three);
  std::vector<Value> back;
  Status st = unmarshalRequestArgs(d, s, back);
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->bareName(), "MARSHAL");
}

TEST(SignatureMarshal, StructsAndSequenceBounds) {
  const Signature s = sigOf(
      "Ro~put~+d{R~QV_ServiceDetail~service_detail_type{ul},service_detail{S{"
      "o},0}},+few{S{l},2},>{v},N{}");
  const std::vector<Value> args = {
      Value::ofList({Value::ofULong(9), Value::ofOctets({1, 2, 3, 4, 5})}),
      Value::ofList({Value::ofLong(1), Value::ofLong(2)})};
  XdrEncoder e;
  ASSERT_EQ(marshalRequestArgs(e, s, args), nullptr);
  XdrDecoder d(e.bytes());
  std::vector<Value> back;
  ASSERT_EQ(unmarshalRequestArgs(d, s, back), nullptr);
  EXPECT_EQ(back, args);

  std::vector<Value> three = args;
  three[1] =
      Value::ofList({Value::ofLong(1), Value::ofLong(2), Value::ofLong(3)});
  XdrEncoder over;
  EXPECT_NE(marshalRequestArgs(over, s, three), nullptr);
}

// --- error paths ------------------------------------------------------------

TEST(SignatureMarshalErrors, WrongValueKindsAreBadTypecode) {
  const Signature s = sigOf("Ro~f~+a{l},>{v},N{}");
  XdrEncoder e;
  Status st = marshalRequestArgs(e, s, std::vector{Value::ofString("x")});
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->minor(), kMinorBadType);
  EXPECT_EQ(*st->detail(), "bad typecode 3");
  st = marshalRequestArgs(e, s, std::vector<Value>{});
  EXPECT_NE(st, nullptr);
  const Signature any = sigOf("Ro~f~+a{a},>{v},N{}");
  st = marshalRequestArgs(e, any, std::vector{Value::ofLong(1)});
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->minor(), kMinorBadKind);
  EXPECT_EQ(*st->detail(), "bad typecode 11");
}

TEST(SignatureMarshalErrors, HostileCountsAndTruncatedArguments) {
  const Signature s = sigOf("Ro~f~+a{S{S{0},0},0},>{v},N{}");
  const Bytes huge{0x7f, 0xff, 0xff, 0xff, 0, 0, 0, 0};
  XdrDecoder d(huge);
  std::vector<Value> back;
  Status st = unmarshalRequestArgs(d, s, back);
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->minor(), kMinorBadLength);

  const Signature two = sigOf("Ro~f~+a{l},+b{0},>{v},N{}");
  XdrEncoder e;
  ASSERT_EQ(marshalRequestArgs(
                e, two, std::vector{Value::ofLong(1), Value::ofString("abc")}),
            nullptr);
  for (std::size_t cut = 0; cut < e.bytes().size(); ++cut) {
    std::span<const std::uint8_t> part(e.bytes().data(), cut);
    XdrDecoder dd(part);
    Status err = unmarshalRequestArgs(dd, two, back);
    ASSERT_NE(err, nullptr) << cut;
    EXPECT_EQ(err->bareName(), "MARSHAL");
  }
  const Signature voids = sigOf("Ro~f~+a{S{v},0},>{v},N{}");
  const Bytes many{0, 0, 0, 9};
  XdrDecoder dv(many);
  EXPECT_NE(unmarshalRequestArgs(dv, voids, back), nullptr);
}

// --- parameter descriptions and dynamic signatures
// -----------------------------

TEST(ParameterDescription, DirectionsAndTypes) {
  EXPECT_EQ(parameterDescription("+service{0}"),
            "Rp~service~type{0},IN{E~{IN,OUT,INOUT}}");
  EXPECT_EQ(parameterDescription("  -hostList{S{0},0}"),
            "Rp~hostList~type{S{0},0},OUT{E~{IN,OUT,INOUT}}");
  EXPECT_EQ(parameterDescription("*n{l}"),
            "Rp~n~type{l},INOUT{E~{IN,OUT,INOUT}}");
  EXPECT_EQ(parameterDescription(">r{b}"),
            "Rp~r~type{b},INOUT{E~{IN,OUT,INOUT}}");
}

TEST(DynamicSignature, BuildsAndMatches) {
  std::string text;
  const std::vector<NamedValue> one_in = {{"a", std::nullopt, 1, Value()}};
  ASSERT_EQ(dynamicSignature("op", one_in, true, text), nullptr);
  EXPECT_EQ(text, "Ro~op~+a,>{x},x{}");
  EXPECT_TRUE(dynamicSignatureMatches(text, sigOf("Ro~op~+a{l},>{v},N{}")));
  EXPECT_FALSE(dynamicSignatureMatches(text, sigOf("Ro~op~-a{l},>{v},N{}")));
  EXPECT_FALSE(dynamicSignatureMatches(text, sigOf("Ro~Op~+a{l},>{v},N{}")));

  ASSERT_EQ(dynamicSignature("op", {}, false, text), nullptr);
  EXPECT_EQ(text, "Ro~op~>{x},x{}");
  ASSERT_EQ(dynamicSignature("op", {}, true, text), nullptr);
  EXPECT_EQ(text, "Ro~op~,>{x},x{}");
  EXPECT_TRUE(dynamicSignatureMatches(text, sigOf("Ro~op~,>{b},N{}")));

  const std::vector<NamedValue> typed = {
      {"s", TypeDesc::basic(TypeKind::kString), 1, Value()},
      {"l", TypeDesc::sequenceOf(TypeDesc::basic(TypeKind::kString)), 2,
       Value()}};
  ASSERT_EQ(dynamicSignature("find", typed, true, text), nullptr);
  EXPECT_EQ(text, "Ro~find~+s{0},-l{S{0},0},>{x},x{}");
  EXPECT_TRUE(dynamicSignatureMatches(
      text, sigOf("Ro~find~+a{0},-b{S{0},0},>{v},N{}")));
  EXPECT_FALSE(dynamicSignatureMatches(
      text, sigOf("Ro~find~+a{0},-b{S{l},0},>{v},N{}")));
}

TEST(DynamicSignature, EmptyOperationIsMarshal10165) {
  std::string text = "unchanged";
  Status st = dynamicSignature("", {}, true, text);
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->bareName(), "MARSHAL");
  EXPECT_EQ(st->minor(), kMinorNoOperation);
  EXPECT_EQ(text, "unchanged");
}

}  // namespace
}  // namespace talvo::protocol
