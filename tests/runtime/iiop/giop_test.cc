// GIOP 1.0 messages: round trips in both byte orders, alignment counted
// from the message start, the checks on each header, hostile sizes, and
// exception ids.

#include "runtime/iiop/giop.h"

#include <gtest/gtest.h>

#include "runtime/iiop/exception_ids.h"
#include "runtime/iiop/replies.h"
#include "runtime/protocol/object_ref.h"

namespace talvo::iiop {
namespace {

Bytes requestMessage(bool little_endian, const RequestHeader& h) {
  MessageWriter w(MsgType::kRequest, little_endian);
  putRequestHeader(w.body(), h);
  w.body().putDouble(2.5);  // an argument aligned on 8 from the message start
  return w.finish();
}

class GiopRoundTrip : public ::testing::TestWithParam<bool> {};

TEST_P(GiopRoundTrip, RequestReplyAndForward) {
  const bool le = GetParam();
  RequestHeader h{{{7, {1, 2, 3}}}, 0x01020304, false,
                  {'k', 0},         "op",       {'a', 'l'}};
  Bytes m = requestMessage(le, h);
  MessageReader r;
  ASSERT_EQ(openMessage(m, r), nullptr);
  EXPECT_EQ(r.header.little_endian, le);
  RequestHeader back;
  double arg = 0;
  ASSERT_EQ(getRequestHeader(*r.body, back), nullptr);
  ASSERT_TRUE(r.body->getDouble(arg));
  EXPECT_EQ(back.service_context[0].context_data, (Bytes{1, 2, 3}));
  EXPECT_EQ(back.request_id, h.request_id);
  EXPECT_FALSE(back.response_expected);
  EXPECT_EQ(back.object_key, h.object_key);
  EXPECT_EQ(back.operation, "op");
  EXPECT_EQ(back.requesting_principal, h.requesting_principal);
  EXPECT_EQ(arg, 2.5);

  protocol::IorProfile ior{"IDL:Bank:1.0", 1, 0, "h.example", 7601, {'k', 0}};
  MessageWriter w(MsgType::kReply, le);
  putReplyHeader(w.body(), {{}, 42, ReplyStatus::kLocationForward});
  putIor(w.body(), ior);
  m = w.finish();
  ASSERT_EQ(openMessage(m, r), nullptr);
  ReplyHeader rh;
  protocol::IorProfile fwd;
  ASSERT_EQ(getReplyHeader(*r.body, rh), nullptr);
  ASSERT_EQ(getIor(*r.body, fwd), nullptr);
  EXPECT_EQ(rh.request_id, 42u);
  EXPECT_EQ(rh.reply_status, ReplyStatus::kLocationForward);
  EXPECT_EQ(fwd.type_id, ior.type_id);
  EXPECT_EQ(fwd.host, ior.host);
  EXPECT_EQ(fwd.port, 7601);
  EXPECT_EQ(fwd.object_key, ior.object_key);
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, GiopRoundTrip, ::testing::Bool());

TEST(GiopBoundary, BigEndianRequestBytesAsAnotherOrbWritesThem) {
  const Bytes expected = {
      'G',  'I', 'O', 'P', 1,   0,   0, 0, 0, 0, 0, 44,  // header, size 44
      0,    0,   0,   0,                                 // no service contexts
      0,    0,   0,   1,                                 // request id
      1,    0,   0,   0,                                 // response, padding
      0,    0,   0,   2,   'k', 0,   0, 0,               // key, padding
      0,    0,   0,   3,   'o', 'p', 0, 0,               // operation, padding
      0,    0,   0,   0,                                 // empty principal
      0,    0,   0,   0,                                 // pad to 8 from "GIOP"
      0x40, 4,   0,   0,   0,   0,   0, 0};              // 2.5
  EXPECT_EQ(requestMessage(false, {{}, 1, true, {'k', 0}, "op", {}}), expected);
}

// Each row of the failure table, by the header alone.
TEST(GiopError, ChecksOnEachIncomingHeader) {
  Bytes bad_magic = encodeHeader(MsgType::kRequest, 0);
  bad_magic[3] = 'X';
  const Bytes request = requestMessage(true, {});
  Bytes v11 = request;
  v11[5] = 1;
  struct Row {
    Bytes message;
    Verdict::Action action;
    const char* exception;
    std::uint32_t minor;
  } rows[] = {
      {bad_magic, Verdict::kClose, "COMM_FAILURE", 10089},
      {v11, Verdict::kMessageError, "", 0},
      {encodeHeader(MsgType::kMessageError, 0, true, 2, 0),
       Verdict::kMessageError, "", 0},
      {messageError(), Verdict::kClose, "IIOP", 10602},
      {closeConnection(false), Verdict::kClose, "IIOP", 10604},
      {encodeHeader(MsgType::kRequest, 0), Verdict::kClose, "COMM_FAILURE",
       10089},
      {encodeHeader(static_cast<MsgType>(7), 4), Verdict::kMessageError, "", 0},
      {request, Verdict::kServe, "", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.message));
    Verdict v = checkMessage(row.message, "bank");
    EXPECT_EQ(v.action, row.action);
    if (row.action != Verdict::kClose) continue;
    ASSERT_NE(v.reason, nullptr);
    EXPECT_EQ(v.reason->bareName(), row.exception);
    EXPECT_EQ(v.reason->minor(), row.minor);
    if (row.minor == 10604) {
      EXPECT_EQ(v.reason->detail(), "bank");
    }
  }
}

TEST(GiopError, SizesBeyondTheMessageAndValuesOutOfRange) {
  auto marshal = [](const Status& st) {
    return st == nullptr ? 0u : st->minor();
  };
  MessageReader r;
  Bytes m = encodeHeader(MsgType::kRequest, 100, false);  // no body at all
  EXPECT_EQ(marshal(openMessage(m, r)), 10161u);
  m.push_back(0);  // a byte beyond the announced size
  m[11] = 0;
  EXPECT_EQ(marshal(openMessage(m, r)), 10162u);

  // Four billion service contexts; an object key longer than what follows;
  // a reply status of 4.
  for (int c = 0; c < 3; ++c) {
    MessageWriter w(MsgType::kRequest, c == 1);
    w.body().putULong(c == 0 ? 0xffffffff : 0);
    w.body().putULong(1);
    if (c < 2) w.body().putBoolean(true);
    w.body().putULong(c == 1 ? 0x7fffffff : 4);
    m = w.finish();
    ASSERT_EQ(openMessage(m, r), nullptr);
    RequestHeader h;
    ReplyHeader rh;
    EXPECT_EQ(marshal(c < 2 ? getRequestHeader(*r.body, h)
                            : getReplyHeader(*r.body, rh)),
              10162u);
  }
}

TEST(GiopExceptionIds, StandardIdsBothWaysUnknownIdsAsUnknown) {
  const CORBA::NO_PERMISSION np(10120, CORBA::COMPLETED_NO, "detail");
  const SystemExceptionBody b = systemExceptionBody(np);
  EXPECT_EQ(b.id, "IDL:omg.org/CORBA/NO_PERMISSION:1.0");
  EXPECT_EQ(systemExceptionFrom(b)->bareName(), "NO_PERMISSION");
  for (const char* id :
       {"IDL:omg.org/CORBA/NO_SUCH:1.0", "BAD_PARAM", "IDL:Bank/Over:1.0"}) {
    Status u = systemExceptionFrom({id, 77, CORBA::COMPLETED_YES});
    EXPECT_EQ(u->bareName(), "UNKNOWN") << id;
    EXPECT_EQ(u->minor(), 77u);
    EXPECT_EQ(u->completed(), CORBA::COMPLETED_YES);
  }
  EXPECT_EQ(userExceptionFrom("IDL:Bank/Over:1.0")->name(), "Bank::Over");
}

TEST(GiopDispatchHeader, EachKeyReadsAsItselfWhateverCameBefore) {
  // Keys are remembered between requests: a repeated, a different and a
  // broken key in any order still read as themselves.
  auto key = [](const std::string& text) {
    std::vector<std::uint8_t> k(text.begin(), text.end());
    k.push_back(0);
    return k;
  };
  const protocol::ObjectRef a("h", "bank", "m1", "", "IR", "Account");
  const protocol::ObjectRef b("h", "shop", "m2", "", "IR", "Till");
  const std::vector<std::vector<std::uint8_t>> keys = {
      key(a.toString()), key(a.toString()), key("garbage"), key(b.toString()),
      key(a.toString())};
  const std::vector<const protocol::ObjectRef*> expected = {&a, &a, nullptr, &b,
                                                            &a};
  for (std::size_t i = 0; i < keys.size(); ++i) {
    RequestHeader giop;
    giop.object_key = keys[i];
    giop.operation = "op";
    protocol::RequestHeader out;
    Status st = dispatchHeader(giop, out);
    if (expected[i] == nullptr) {
      ASSERT_NE(st, nullptr);
      EXPECT_EQ(st->minor(), protocol::kMinorNoObject);
      continue;
    }
    ASSERT_EQ(st, nullptr) << i;
    EXPECT_EQ(out.server, expected[i]->server()) << i;
    EXPECT_EQ(out.marker, expected[i]->marker()) << i;
    EXPECT_EQ(out.interface_name, expected[i]->interfaceName()) << i;
    EXPECT_EQ(out.object_key, keys[i]) << i;
  }
}

}  // namespace
}  // namespace talvo::iiop
