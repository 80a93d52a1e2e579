// Object references: the string form, its fields and rebuilds, the daemon's
// reference, the ping request and the "IOR:" text.

#include "runtime/protocol/object_ref.h"

#include <gtest/gtest.h>

#include "runtime/protocol/xdr_codec.h"

namespace talvo::protocol {
namespace {

// --- string form ------------------------------------------------------------

TEST(ObjectRefString, DefaultsAndFields) {
  ObjectRef r("h.example.org", "bank");
  EXPECT_EQ(r.toString(), ":\\h.example.org:bank:::IR:CORBA::Object");
  EXPECT_EQ(r.changeMask(), 0);
  EXPECT_EQ(ObjectRef::field(r.toString(), 6), "CORBA::Object");
  EXPECT_EQ(ObjectRef::field(r.toString(), 5), "IR");
  EXPECT_EQ(ObjectRef::field(r.toString(), 3), "");
  EXPECT_EQ(ObjectRef::field(r.toString(), 7), std::nullopt);
  EXPECT_EQ(ObjectRef::field(r.toString(), 0), std::nullopt);
  EXPECT_EQ(ObjectRef::field("h:bank", 1), std::nullopt);
  EXPECT_EQ(r.field(7), std::nullopt);
}

TEST(ObjectRefString, DaemonReferenceOnAHost) {
  const std::string ref = daemonReference("alpha.example.org");
  EXPECT_EQ(ref, ":\\alpha.example.org:QV_daemon:::IR:QV_daemon");
  EXPECT_EQ(ObjectRef::field(ref, 3), "");
  EXPECT_EQ(ObjectRef::field(ref, 2), "QV_daemon");
  EXPECT_EQ(ObjectRef::field(ref, 6), "QV_daemon");
}

TEST(ObjectRefString, ChangeMaskAndRebuild) {
  ObjectRef r("", "");
  ASSERT_EQ(ObjectRef::parse(":\\h:s:m::IR:A::B", r), nullptr);
  EXPECT_EQ(r.changeMask(), 0);
  EXPECT_EQ(r.interfaceName(), "A::B");
  r.setField(ObjectRef::kMarker, "m2");
  r.setField(ObjectRef::kInterface, "Bank");
  EXPECT_EQ(r.changeMask(), 4 | 32);
  EXPECT_EQ(r.toString(), ":\\h:s:m2::IR:Bank");
  EXPECT_EQ(r.changeMask(), 0);
  r.setField(9, "ignored");
  EXPECT_EQ(r.changeMask(), 0);
  const std::string long_host(500, 'x');
  r.setField(ObjectRef::kHost, long_host);
  EXPECT_EQ(ObjectRef::field(r.toString(), 1), long_host);
}

TEST(ObjectRefString, MalformedTextsAreBadParam10027) {
  for (std::string_view text : {"", ":", "x\\h:s:m::IR:I", ":\\h:s:m:IR"}) {
    ObjectRef r("", "");
    Status st = ObjectRef::parse(text, r);
    ASSERT_NE(st, nullptr) << text;
    EXPECT_EQ(st->bareName(), "BAD_PARAM");
    EXPECT_EQ(st->minor(), kMinorBadReference);
    EXPECT_EQ(st->detail(), std::string(text));
  }
}

// --- requests to references -------------------------------------------------

TEST(ObjectRefRequests, PingRequestHeader) {
  ObjectRef r("h", "bank", "acct1");
  const auto body = pingRequest(r, 12);
  XdrDecoder d(body);
  MessageKind kind;
  RequestHeader h;
  ASSERT_EQ(decodeMessageKind(d, kind), nullptr);
  ASSERT_EQ(decodeRequestHeader(d, h), nullptr);
  EXPECT_EQ(d.remaining(), 0u);  // no arguments
  EXPECT_EQ(h.request_id, 12u);
  EXPECT_EQ(h.code1, ':');
  EXPECT_EQ(h.code2, '\\');
  EXPECT_TRUE(h.response_expected);
  EXPECT_EQ(h.marker, "acct1");
  EXPECT_EQ(h.server, "bank");
  EXPECT_EQ(h.interface_name, "CORBA::Object");
  EXPECT_EQ(h.operation, "_QV_PING");
  EXPECT_EQ(h.flags, 0);
}

TEST(ObjectRefRequests, DaemonEndpointByProtocolAndPort) {
  DaemonEndpoint e;
  ASSERT_EQ(daemonEndpoint("IIOP", "1570", "h", e), nullptr);
  EXPECT_TRUE(e.iiop);
  ASSERT_EQ(daemonEndpoint("POOP", "1570", "h", e), nullptr);
  EXPECT_FALSE(e.iiop);
  EXPECT_EQ(e.reference, daemonReference("h"));
  ASSERT_EQ(daemonEndpoint(nullptr, "1570", "h", e), nullptr);
  EXPECT_FALSE(e.iiop);
  for (const char* port : {static_cast<const char*>(nullptr), ""}) {
    Status st = daemonEndpoint("IIOP", port, "h", e);
    ASSERT_NE(st, nullptr);
    EXPECT_EQ(st->bareName(), "NO_CONFIG_VALUE");
    EXPECT_EQ(st->minor(), 10621u);
    EXPECT_EQ(st->completed(), CORBA::COMPLETED_NO);
  }
}

// --- interoperable references
// --------------------------------------------------

TEST(IorText, HexOfTheEncapsulation) {
  const std::vector<std::uint8_t> bytes{0x01, 0xff};
  EXPECT_EQ(iorText(bytes), "IOR:01ff");
}

TEST(IorText, DaemonReferenceRoundTrip) {
  const std::string ref = daemonReference("alpha.example.org");
  std::string text;
  ASSERT_EQ(iorForReference(ref, "alpha.example.org", 1570, text), nullptr);
  ASSERT_TRUE(text.starts_with("IOR:01"));
  IorProfile p;
  ASSERT_EQ(parseIor(text, p), nullptr);
  EXPECT_EQ(p.type_id, "IDL:QV_daemon:1.0");
  EXPECT_EQ(p.major, 1);
  EXPECT_EQ(p.minor, 0);
  EXPECT_EQ(p.host, "alpha.example.org");
  EXPECT_EQ(p.port, 1570);
  std::vector<std::uint8_t> key(ref.begin(), ref.end());
  key.push_back(0);
  EXPECT_EQ(p.object_key, key);
}

TEST(IorText, ScopedInterfaceKeepsItsColons) {
  std::string text;
  ASSERT_EQ(iorForReference(":\\h:s:m::IR:Mod::Iface", "h", 1, text), nullptr);
  IorProfile p;
  ASSERT_EQ(parseIor(text, p), nullptr);
  EXPECT_EQ(p.type_id, "IDL:Mod::Iface:1.0");
  EXPECT_NE(iorForReference("not a reference", "h", 1, text), nullptr);
}

TEST(IorText, MalformedTextsAreMarshal10172) {
  std::string good;
  ASSERT_EQ(iorForReference(daemonReference("h"), "h", 1, good), nullptr);
  for (std::string text :
       {std::string("IOR:"), std::string("IOR:0"), std::string("IOR:zz"),
        std::string("XYZ:0100"), std::string("IOR:02"),
        good.substr(0, good.size() - 2), std::string("IOR:01000000ffffffff")}) {
    IorProfile p;
    Status st = parseIor(text, p);
    ASSERT_NE(st, nullptr) << text;
    EXPECT_EQ(st->bareName(), "MARSHAL");
    EXPECT_EQ(st->minor(), kMinorBadIor);
  }
}

}  // namespace
}  // namespace talvo::protocol
