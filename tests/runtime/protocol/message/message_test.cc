// Broker-protocol message bodies: requests, replies, exception replies and
// binding messages, written and read back; truncated and hostile bodies.

#include "runtime/protocol/message.h"

#include <gtest/gtest.h>

#include "runtime/protocol/xdr_codec.h"

namespace talvo::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

Signature sigOf(std::string_view text) {
  Signature s;
  EXPECT_EQ(parseSignature(text, s), nullptr);
  return s;
}

RequestHeader sampleHeader() {
  RequestHeader h;
  h.request_id = 42;
  h.marker = "";
  h.server = "QV_daemon";
  h.interface_name = "QV_daemon";
  h.operation = "serverExists";
  return h;
}

Bytes exceptionReply(std::string_view name, std::uint32_t minor,
                     std::int32_t completed,
                     std::optional<std::string_view> detail) {
  XdrEncoder e;
  e.putLong(2);
  e.putULong(9);
  e.putLong(2);
  e.putString(name);
  e.putULong(minor);
  e.putLong(completed);
  e.putOctet(detail ? 1 : 0);
  if (detail) e.putString(*detail);
  return e.take();
}

ReplyOutcome readReply(const Bytes& body, Status* st_out = nullptr) {
  XdrDecoder d(body);
  ReplyOutcome out;
  std::vector<Value> args;
  Value result;
  Status st = decodeReply(d, sigOf("Ro~f~,>{v},N{}"), out, args, result);
  if (st_out != nullptr) {
    *st_out = std::move(st);
  } else {
    EXPECT_EQ(st, nullptr);
  }
  return out;
}

// --- round trips ------------------------------------------------------------

TEST(RequestMessage, HeaderItemsInOrder) {
  const Signature s = sigOf("Ro~serverExists~+serverName{0},>{b},N{}");
  XdrEncoder e;
  ASSERT_EQ(
      encodeRequest(e, sampleHeader(), s, std::vector{Value::ofString("bank")}),
      nullptr);
  XdrEncoder expected;
  expected.putLong(0);
  expected.putULong(42);
  expected.putChar(':');
  expected.putChar('\\');
  expected.putBoolean(true);
  expected.putString("");
  expected.putString("QV_daemon");
  expected.putString("QV_daemon");
  expected.putString("serverExists");
  expected.putOctet(0);
  expected.putString("bank");
  EXPECT_EQ(e.bytes(), expected.bytes());

  XdrDecoder d(e.bytes());
  MessageKind kind;
  RequestHeader h;
  ASSERT_EQ(decodeMessageKind(d, kind), nullptr);
  EXPECT_EQ(kind, MessageKind::kRequest);
  ASSERT_EQ(decodeRequestHeader(d, h), nullptr);
  EXPECT_EQ(h.request_id, 42u);
  EXPECT_EQ(h.marker, "");
  EXPECT_EQ(h.interface_name, "QV_daemon");
  EXPECT_EQ(h.operation, "serverExists");
  std::vector<Value> args;
  ASSERT_EQ(unmarshalRequestArgs(d, s, args), nullptr);
  EXPECT_EQ(args[0].text(), "bank");
}

TEST(ReplyMessage, NormalReplyCarriesOutsThenResult) {
  const Signature s = sigOf("Ro~f~+a{l},-b{0},>{b},N{}");
  XdrEncoder e;
  ASSERT_EQ(
      encodeReply(e, 5, s, std::vector{Value::ofLong(1), Value::ofString("x")},
                  Value::ofBool(true)),
      nullptr);
  XdrDecoder d(e.bytes());
  ReplyOutcome out;
  std::vector<Value> args(2);
  Value result;
  ASSERT_EQ(decodeReply(d, s, out, args, result), nullptr);
  EXPECT_EQ(out.request_id, 5u);
  EXPECT_EQ(out.exception, nullptr);
  EXPECT_EQ(args[1].text(), "x");
  EXPECT_TRUE(args[0].isVoid());
  EXPECT_EQ(result, Value::ofBool(true));
}

TEST(ExceptionReply, SystemExceptionRoundTrip) {
  CORBA::NO_CONFIG_VALUE ex(10621, CORBA::COMPLETED_NO, "QV_DAEMON_PORT");
  XdrEncoder e;
  encodeExceptionReply(e, 77, ex);
  const ReplyOutcome out = readReply(e.bytes());
  EXPECT_EQ(out.request_id, 77u);
  auto* sys = dynamic_cast<CORBA::NO_CONFIG_VALUE*>(out.exception.get());
  ASSERT_NE(sys, nullptr);
  EXPECT_EQ(sys->minor(), 10621u);
  EXPECT_EQ(sys->completed(), CORBA::COMPLETED_NO);
  EXPECT_EQ(sys->detail(), "QV_DAEMON_PORT");
}

TEST(ExceptionReply, NamesInEveryFormAndUnknownOnes) {
  auto* cf = readReply(exceptionReply("IDL:omg.org/CORBA/COMM_FAILURE:1.0",
                                      10085, 1, std::nullopt))
                 .exception.release();
  std::unique_ptr<CORBA::Exception> owned(cf);
  auto* comm = dynamic_cast<CORBA::COMM_FAILURE*>(cf);
  ASSERT_NE(comm, nullptr);
  EXPECT_EQ(comm->minor(), 10085u);
  EXPECT_FALSE(comm->detail().has_value());

  auto bp = readReply(exceptionReply("CORBA::BAD_PARAM", 10022, 1, "x"));
  EXPECT_NE(dynamic_cast<CORBA::BAD_PARAM*>(bp.exception.get()), nullptr);

  auto unknown =
      readReply(exceptionReply("CORBA::StExcep::NO_SUCH_THING", 7, 2, "d"));
  auto* u = dynamic_cast<CORBA::UNKNOWN*>(unknown.exception.get());
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(u->minor(), 7u);
  EXPECT_EQ(u->completed(), CORBA::COMPLETED_MAYBE);
  EXPECT_EQ(u->detail(), "d");
}

TEST(ExceptionReply, UserExceptionByName) {
  CORBA::UserException ex("Bank::NoFunds");
  XdrEncoder e;
  encodeExceptionReply(e, 3, ex);
  const ReplyOutcome out = readReply(e.bytes());
  ASSERT_NE(out.exception, nullptr);
  EXPECT_NE(dynamic_cast<CORBA::UserException*>(out.exception.get()), nullptr);
  EXPECT_EQ(out.exception->name(), "Bank::NoFunds");
}

TEST(ExceptionReply, UserExceptionMembersFollowTheName) {
  TypeDesc members;
  ASSERT_EQ(parseTypeText("R~NoFunds~needed{l},account{0}", members), nullptr);
  const Value value = Value::ofList({Value::ofLong(50), Value::ofString("a1")});
  XdrEncoder e;
  ASSERT_EQ(encodeUserExceptionReply(e, 8, "Bank::NoFunds", members, value),
            nullptr);
  XdrDecoder d(e.bytes());
  ReplyOutcome out;
  std::vector<Value> args;
  Value result;
  ASSERT_EQ(decodeReply(d, sigOf("Ro~f~,>{v},N{}"), out, args, result),
            nullptr);
  EXPECT_EQ(out.exception->name(), "Bank::NoFunds");
  Value back;
  ASSERT_EQ(unmarshalValue(d, members, back), nullptr);
  EXPECT_EQ(back, value);
}

TEST(BindingMessage, RoundTripAndProbe) {
  BindingMessage m;
  m.message_id = 1;
  m.probe = kProbeValue;
  m.server_name = "bank";
  m.user_name = "alice";
  m.marker_pattern = std::nullopt;
  m.host_name = "h.example.org";
  m.server_method = "";
  m.pid = 4242;
  const Bytes body = encodeBinding(m);
  BindingMessage back;
  ASSERT_EQ(decodeBinding(body, back), nullptr);
  EXPECT_EQ(back.server_name, "bank");
  EXPECT_EQ(back.user_name, "alice");
  EXPECT_FALSE(back.marker_pattern.has_value());
  EXPECT_EQ(back.server_method, "");
  EXPECT_EQ(back.pid, 4242u);
  EXPECT_EQ(back.platform, 11);
  EXPECT_EQ(back.constant, 1u);
  EXPECT_TRUE(back.sharesRepresentation());
  back.probe = 0.0;
  EXPECT_FALSE(back.sharesRepresentation());
  back.probe = kProbeValue + 0.0000005;
  EXPECT_TRUE(back.sharesRepresentation());
}

// --- error paths ------------------------------------------------------------

TEST(MessageErrors, BindingThatIsNotOneIsComm10090) {
  XdrEncoder req;
  encodeRequestHeader(req, sampleHeader());
  BindingMessage m;
  Status st = decodeBinding(req.bytes(), m);
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->bareName(), "COMM_FAILURE");
  EXPECT_EQ(st->minor(), kMinorBadBinding);
  EXPECT_EQ(st->completed(), CORBA::COMPLETED_NO);
  Bytes body = encodeBinding(m);
  for (std::size_t cut = 0; cut < body.size(); ++cut) {
    EXPECT_NE(decodeBinding(std::span(body.data(), cut), m), nullptr) << cut;
  }
}

TEST(MessageErrors, TruncatedHeadersAndBadKinds) {
  XdrEncoder e;
  encodeRequestHeader(e, sampleHeader());
  for (std::size_t cut = 4; cut < e.bytes().size(); ++cut) {
    XdrDecoder d(std::span(e.bytes().data(), cut));
    MessageKind kind;
    RequestHeader h;
    ASSERT_EQ(decodeMessageKind(d, kind), nullptr);
    Status st = decodeRequestHeader(d, h);
    ASSERT_NE(st, nullptr) << cut;
    EXPECT_EQ(st->bareName(), "MARSHAL");
  }
  const Bytes four{0, 0, 0, 4};
  XdrDecoder d(four);
  MessageKind kind;
  EXPECT_NE(decodeMessageKind(d, kind), nullptr);
  const Bytes negative{0xff, 0xff, 0xff, 0xff};
  XdrDecoder dn(negative);
  EXPECT_NE(decodeMessageKind(dn, kind), nullptr);
}

TEST(MessageErrors, MalformedExceptionBodies) {
  Status st;
  Bytes bad_flag = exceptionReply("CORBA::BAD_PARAM", 1, 1, std::nullopt);
  bad_flag.back() = 2;  // the detail flag octet
  readReply(bad_flag, &st);
  EXPECT_NE(st, nullptr);
  Bytes kind3 = exceptionReply("CORBA::BAD_PARAM", 1, 1, std::nullopt);
  kind3[11] = 3;  // exception kind
  readReply(kind3, &st);
  EXPECT_NE(st, nullptr);
  Bytes cut = exceptionReply("CORBA::BAD_PARAM", 1, 1, "detail");
  cut.resize(cut.size() - 4);
  readReply(cut, &st);
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->bareName(), "MARSHAL");
  XdrEncoder req;
  encodeRequestHeader(req, sampleHeader());
  readReply(req.take(), &st);
  EXPECT_NE(st, nullptr);
}

}  // namespace
}  // namespace talvo::protocol
