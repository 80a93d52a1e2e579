// Request dispatch driven with message bodies: replies, exception replies,
// oneway calls, suspension, filters, trace lines, hostile bodies.

#include "runtime/protocol/dispatcher.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "runtime/protocol/xdr_codec.h"

namespace talvo::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::string_view kDeposit =
    "Ro~deposit~+amount{l},-balance{l},>{b},N{}";

class CaptureSink : public TraceSink {
 public:
  int level() const override { return level_; }
  void line(std::string_view text) override { lines.emplace_back(text); }
  int level_ = 1;
  std::vector<std::string> lines;
};

class DispatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto bank = std::make_shared<Interface>("Bank");
    ASSERT_EQ(bank->addOperation(kDeposit,
                                 [this](Request& r) {
                                   ++calls;
                                   seen_principal = r.principal;
                                   balance += r.arg(0).as<std::int32_t>();
                                   r.args[1] = Value::ofLong(balance);
                                   r.result = Value::ofBool(true);
                                 }),
              nullptr);
    ASSERT_EQ(bank->addOperation("Ro~fail~,>{v},N{}",
                                 [](Request& r) {
                                   r.raise(CORBA::NO_PERMISSION(
                                       10126, CORBA::COMPLETED_NO, "bank"));
                                 }),
              nullptr);
    ASSERT_EQ(
        bank->addOperation("Ro~crash~,>{v},N{}",
                           [](Request&) { throw std::runtime_error("boom"); }),
        nullptr);
    ASSERT_EQ(bank->addOperation(
                  "Ro~bad~,>{l},N{}",
                  [](Request& r) { r.result = Value::ofString("not a long"); }),
              nullptr);
    dispatcher.objects().add("m1", bank);
    auto server = std::make_shared<Interface>("TalvoServer");
    ASSERT_EQ(server->addOperation("Ro~_QV_PING~,>{v},N{}",
                                   [this](Request&) { ++calls; }),
              nullptr);
    dispatcher.objects().add("", server);
    peer.user_name = "alice";
  }

  Bytes request(std::string_view op, std::vector<Value> args,
                std::string_view iface = "Bank", std::string_view marker = "m1",
                bool response = true) {
    RequestHeader h;
    h.request_id = 31;
    h.marker = std::string(marker);
    h.server = "srv";
    h.interface_name = std::string(iface);
    h.operation = std::string(op);
    h.response_expected = response;
    XdrEncoder e;
    encodeRequestHeader(e, h);
    for (const Value& v : args) {
      EXPECT_EQ(marshalValue(e, TypeDesc::basic(TypeKind::kLong), v), nullptr);
    }
    return e.take();
  }

  // Sends `body` and expects an exception reply; returns its exception.
  std::unique_ptr<CORBA::Exception> exceptionOf(const Bytes& body) {
    auto reply = dispatcher.handleRequest(peer, body);
    EXPECT_TRUE(reply.has_value());
    if (!reply) return nullptr;
    XdrDecoder d(*reply);
    ReplyOutcome out;
    std::vector<Value> args;
    Value result;
    Signature none;
    EXPECT_EQ(decodeReply(d, none, out, args, result), nullptr);
    EXPECT_EQ(out.request_id, 31u);
    return std::move(out.exception);
  }

  CaptureSink sink;
  Dispatcher dispatcher{&sink, "host.example.org"};
  PeerInfo peer;
  int calls = 0;
  std::int32_t balance = 100;
  std::string seen_principal;
};

// --- normal replies ---------------------------------------------------------

TEST_F(DispatcherTest, OnewayGetsNoReplyEvenOnFailure) {
  EXPECT_FALSE(dispatcher
                   .handleRequest(peer, request("deposit", {Value::ofLong(1)},
                                                "Bank", "m1", false))
                   .has_value());
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(
      dispatcher.handleRequest(peer, request("nope", {}, "Bank", "m1", false))
          .has_value());
}

// A deferred operation answers when its completion completes: through the
// connection's sink, with INTERNAL when it is dropped unanswered, not at
// all once the dispatcher has gone, and NO_IMPLEMENT without a sink.
TEST_F(DispatcherTest, DeferredRepliesGoToTheSinkWhenCompleted) {
  auto later = std::make_shared<Interface>("Later");
  std::vector<std::shared_ptr<Completion>> held;
  ASSERT_EQ(later->addDeferredOperation(
                "Ro~deposit~+amount{l},-balance{l},>{b},N{}",
                [&](std::shared_ptr<Completion> c) { held.push_back(c); }),
            nullptr);
  dispatcher.objects().add("m1", later);
  std::vector<Bytes> sent;
  const ReplySink sink = [&](Bytes reply) { sent.push_back(reply); };
  const Bytes body = request("deposit", {Value::ofLong(5)}, "Later");
  EXPECT_FALSE(dispatcher.handleRequest(peer, body, &sink).has_value());
  EXPECT_FALSE(dispatcher.handleRequest(peer, body, &sink).has_value());
  ASSERT_EQ(held.size(), 2u);
  EXPECT_TRUE(sent.empty());
  held[0]->request().args[1] = Value::ofLong(6);
  held[0]->request().result = Value::ofBool(true);
  held[0]->complete();
  held[0]->complete();  // once only
  held.clear();         // the second, unanswered
  ASSERT_EQ(sent.size(), 2u);
  XdrDecoder d(sent[0]);
  Signature sig;
  ASSERT_EQ(parseSignature(kDeposit, sig), nullptr);
  ReplyOutcome out;
  std::vector<Value> args(2);
  Value result;
  ASSERT_EQ(decodeReply(d, sig, out, args, result), nullptr);
  EXPECT_EQ(out.exception, nullptr);
  EXPECT_EQ(args[1], Value::ofLong(6));
  auto dropped = dispatcher.handleRequest(peer, body);  // no sink
  ASSERT_TRUE(dropped.has_value());
  for (const Bytes& reply : {sent[1], *dropped}) {
    XdrDecoder e(reply);
    ASSERT_EQ(decodeReply(e, sig, out, args, result), nullptr);
    ASSERT_NE(out.exception, nullptr);
    EXPECT_TRUE(out.exception->bareName() == "INTERNAL" ||
                out.exception->bareName() == "NO_IMPLEMENT");
  }

  auto gone = std::make_unique<Dispatcher>();
  gone->objects().add("m1", later);
  EXPECT_FALSE(gone->handleRequest(peer, body, &sink).has_value());
  gone.reset();
  held.clear();
  EXPECT_EQ(sent.size(), 2u);
}

// --- exception replies
// --------------------------------------------------------

TEST_F(DispatcherTest, UnknownTargetOperationAndBadArguments) {
  auto e = exceptionOf(request("deposit", {Value::ofLong(1)}, "Bank", "m2"));
  auto* inv = dynamic_cast<CORBA::INV_OBJREF*>(e.get());
  ASSERT_NE(inv, nullptr);
  EXPECT_EQ(inv->minor(), 10101u);
  EXPECT_EQ(inv->detail(), ":\\host.example.org:srv:m2::IR:Bank");

  e = exceptionOf(request("Deposit", {Value::ofLong(1)}));
  auto* bad_op = dynamic_cast<CORBA::BAD_OPERATION*>(e.get());
  ASSERT_NE(bad_op, nullptr);
  EXPECT_EQ(bad_op->detail(), "Deposit");

  e = exceptionOf(request("deposit", {}));
  EXPECT_NE(dynamic_cast<CORBA::MARSHAL*>(e.get()), nullptr);
  EXPECT_EQ(calls, 0);
}

TEST_F(DispatcherTest, HandlerFailuresBecomeExceptionReplies) {
  auto e = exceptionOf(request("fail", {}));
  auto* perm = dynamic_cast<CORBA::NO_PERMISSION*>(e.get());
  ASSERT_NE(perm, nullptr);
  EXPECT_EQ(perm->minor(), 10126u);
  e = exceptionOf(request("crash", {}));
  auto* internal = dynamic_cast<CORBA::INTERNAL*>(e.get());
  ASSERT_NE(internal, nullptr);
  EXPECT_EQ(internal->detail(), "boom");
  e = exceptionOf(request("bad", {}));
  EXPECT_NE(dynamic_cast<CORBA::MARSHAL*>(e.get()), nullptr);
}

TEST_F(DispatcherTest, SuspendedProcessServesOnlyTheTwoInterfaces) {
  dispatcher.setSuspended(true);
  auto e = exceptionOf(request("deposit", {Value::ofLong(1)}));
  auto* sus = dynamic_cast<CORBA::QV_SUSPEND*>(e.get());
  ASSERT_NE(sus, nullptr);
  EXPECT_EQ(sus->minor(), 10641u);
  auto reply = dispatcher.handleRequest(
      peer, request("_QV_PING", {}, "TalvoServer", ""));
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(calls, 1);
  dispatcher.setSuspended(false);
  EXPECT_EQ(exceptionOf(request("fail", {}))->bareName(), "NO_PERMISSION");
}

// --- filters --------------------------------------------------------------

class ScriptedFilter : public RequestFilter {
 public:
  explicit ScriptedFilter(bool pass) : pass_(pass) {}
  bool inRequestPreMarshal(Request& r, CORBA::Environment&) override {
    ++pre;
    if (!principal.empty()) r.principal = principal;
    if (throw_system) throw CORBA::NO_PERMISSION(10120);
    return pass_;
  }
  bool failure(Request&, CORBA::Environment&) override {
    ++failures;
    return true;
  }
  int pre = 0;
  int failures = 0;
  bool throw_system = false;
  std::string principal;

 private:
  bool pass_;
};

TEST_F(DispatcherTest, SecondFilterRefusingStopsTheChain) {
  auto f1 = std::make_shared<ScriptedFilter>(true);
  auto f2 = std::make_shared<ScriptedFilter>(false);
  auto f3 = std::make_shared<ScriptedFilter>(true);
  for (auto& f : {f1, f2, f3}) dispatcher.filters().add(f);
  auto e = exceptionOf(request("deposit", {Value::ofLong(1)}));
  auto* sup = dynamic_cast<CORBA::FILTER_SUPPRESS*>(e.get());
  ASSERT_NE(sup, nullptr);
  EXPECT_EQ(sup->minor(), 10502u);
  EXPECT_EQ(sup->completed(), CORBA::COMPLETED_NO);
  EXPECT_EQ(f3->pre, 0);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(f1->failures, 1);
  EXPECT_EQ(f3->failures, 1);
}

TEST_F(DispatcherTest, FilterSetsPrincipalOrRaises) {
  auto f = std::make_shared<ScriptedFilter>(true);
  f->principal = "nobody";
  dispatcher.filters().add(f);
  ASSERT_TRUE(
      dispatcher.handleRequest(peer, request("deposit", {Value::ofLong(1)})));
  EXPECT_EQ(seen_principal, "nobody");
  f->throw_system = true;
  auto e = exceptionOf(request("deposit", {Value::ofLong(1)}));
  EXPECT_NE(dynamic_cast<CORBA::NO_PERMISSION*>(e.get()), nullptr);
}

// --- trace lines ------------------------------------------------------------

TEST_F(DispatcherTest, IncomingRequestLineOnlyAtLevelTwo) {
  dispatcher.handleRequest(peer, request("deposit", {Value::ofLong(1)}));
  EXPECT_TRUE(sink.lines.empty());
  sink.level_ = 2;
  dispatcher.handleRequest(peer, request("deposit", {Value::ofLong(1)}));
  dispatcher.handleRequest(peer, request("nope", {}));
  ASSERT_EQ(sink.lines.size(), 2u);
  EXPECT_EQ(sink.lines[0],
            " Incoming request `deposit' to object m1 of type Bank ]");
}

// --- hostile bodies
// -----------------------------------------------------------

TEST_F(DispatcherTest, UnreadableBodiesGetNoReply) {
  EXPECT_FALSE(dispatcher.handleRequest(peer, Bytes{}).has_value());
  EXPECT_FALSE(dispatcher.handleRequest(peer, Bytes{0, 0, 0, 3}).has_value());
  const Bytes full = request("deposit", {Value::ofLong(1)});
  for (std::size_t cut = 0; cut < full.size(); ++cut) {
    auto reply = dispatcher.handleRequest(peer, std::span(full.data(), cut));
    if (reply) {  // the header was whole: the argument is missing
      XdrDecoder d(*reply);
      std::int32_t kind;
      ASSERT_TRUE(d.getLong(kind));
      EXPECT_EQ(kind, 2);
    }
  }
  EXPECT_EQ(calls, 0);
}

TEST(InterfaceTable, DuplicateAndMalformedOperations) {
  Interface i("X");
  EXPECT_EQ(i.addOperation("Ro~a~,>{v},N{}", nullptr), nullptr);
  Status st = i.addOperation("Ro~a~+x{l},>{v},N{}", nullptr);
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->bareName(), "BAD_PARAM");
  EXPECT_NE(i.addOperation("Ro~b", nullptr), nullptr);
  EXPECT_EQ(i.size(), 1u);
  ObjectTable t;
  t.add("m", std::make_shared<Interface>("X"));
  EXPECT_NE(t.find("X", "m"), nullptr);
  EXPECT_EQ(t.find("X", "M"), nullptr);
  EXPECT_TRUE(t.remove("X", "m"));
  EXPECT_FALSE(t.remove("X", "m"));
}

}  // namespace
}  // namespace talvo::protocol
