#include "runtime/config/runtime_config.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>

#include "platform/system_info.h"
#include "runtime/config/trace_stream.h"
#include "support/config_support.h"
#include "support/temp_dir.h"

namespace talvo {
namespace {

using testing::MapConfigHandler;

// A configuration over one map-backed handler the test controls.
class RuntimeConfigTest : public ::testing::Test {
 protected:
  RuntimeConfigTest() {
    chain_.add("map", std::make_unique<MapConfigHandler>(&values_));
  }
  RuntimeConfig& load() {
    config_ = std::make_unique<RuntimeConfig>(chain_);
    return *config_;
  }
  std::map<std::string, std::string> values_;
  ConfigChain chain_;
  std::unique_ptr<RuntimeConfig> config_;
};

std::string str(const char* s) { return s ? s : "<null>"; }

// --- round trips ---------------------------------------------------------

TEST_F(RuntimeConfigTest, ComputedDefaults) {
  RuntimeConfig& c = load();
  EXPECT_EQ(str(c.serverName()), std::to_string(::getpid()));
  EXPECT_EQ(str(c.daemonPort()), "<null>");
  EXPECT_EQ(c.diagnosticsLevel(), 1);
  EXPECT_EQ(c.userName(), platform::userName());
}

TEST_F(RuntimeConfigTest, FoundValuesBeatDefaults) {
  values_ = {{"QV_CONNECT_ATTEMPTS", "3"},
             {"QV_SERVER_NAME", "bank"},
             {"QV_IIOP_PORT", "9000"},
             {"QV_SERVER_MARKER", "m1"}};
  RuntimeConfig& c = load();
  EXPECT_EQ(str(c.connectAttempts()), "3");
  EXPECT_EQ(str(c.serverName()), "bank");
  EXPECT_EQ(str(c.iiopPort()), "9000");
  EXPECT_EQ(str(c.serverMarker()), "m1");
}

TEST_F(RuntimeConfigTest, SettersAndServerNameFlag) {
  RuntimeConfig& c = load();
  EXPECT_FALSE(c.getAndSetServerNameSet(false));
  c.setServerName("QV_daemon");
  c.setServerPort("7591");
  c.setServerComms("tcp");
  c.setServerCode("xdr");
  EXPECT_EQ(str(c.serverName()), "QV_daemon");
  EXPECT_EQ(str(c.serverPort()), "7591");
  EXPECT_EQ(str(c.serverComms()), "tcp");
  EXPECT_EQ(str(c.serverCode()), "xdr");
  EXPECT_TRUE(c.getAndSetServerNameSet(false));
  EXPECT_FALSE(c.getAndSetServerNameSet(true));
  // Null stores null; the lazy accessor then asks the chain (no default).
  values_["QV_SERVER_PORT"] = "1234";
  c.setServerPort(nullptr);
  EXPECT_EQ(str(c.serverPort()), "1234");
  c.setServerName(nullptr);
  EXPECT_EQ(str(c.serverName()), "<null>");
}

// --- boundaries ----------------------------------------------------------

TEST_F(RuntimeConfigTest, MarkerRule) {
  values_ = {{"QV_SERVER_MARKER", "QV_nullMarker"},
             {"QV_MARKER_PATTERN", "QV_nullMarker"}};
  RuntimeConfig& c = load();
  EXPECT_EQ(str(c.serverMarker()), "");
  // The pattern's accessor looks the empty value up again; the rule holds
  // there too, on every call.
  EXPECT_EQ(str(c.markerPattern()), "");
  EXPECT_EQ(str(c.markerPattern()), "");
  EXPECT_EQ(applyMarkerRule(ConfigVar::kServerName, "QV_nullMarker"),
            "QV_nullMarker");
}

TEST_F(RuntimeConfigTest, LazyReLookupOfListedAccessorsOnly) {
  values_ = {{"QV_ERRORS", ""}};
  RuntimeConfig& c = load();
  values_ = {{"QV_DAEMON_PORT", "7591"},
             {"QV_IIOP_PORT", "9000"},
             {"QV_ERRORS", "/e"},
             {"QV_CONNECT_ATTEMPTS", "3"},
             {"QV_ACT_POLICY", "shared"}};
  EXPECT_EQ(str(c.daemonPort()), "7591");     // missing at load: looked up
  EXPECT_EQ(str(c.errors()), "/e");           // empty at load: looked up
  EXPECT_EQ(str(c.iiopPort()), "<null>");     // not lazy
  EXPECT_EQ(str(c.actPolicy()), "<null>");    // not lazy
  EXPECT_EQ(str(c.connectAttempts()), "10");  // non-empty cache stays
  values_.clear();
  EXPECT_EQ(str(c.daemonPort()), "7591");  // now cached
  EXPECT_EQ(str(c.localDomain()), "<null>");
  values_["QV_LOCAL_DOMAIN"] = "";
  EXPECT_EQ(str(c.localDomain()), "");  // found empty: returned, no default
}

TEST(QualifyHostName, DomainCompletesOnlyAMatchingTail) {
  struct Case {
    const char *host, *domain, *expected;
  };
  for (const Case& c : std::initializer_list<Case>{
           {nullptr, "x.y", "UNKNOWN_HOST_NAME"},
           {"alpha", nullptr, "alpha"},
           {"alpha", "", "alpha"},
           {"alpha", "example.org", "alpha.example.org"},
           {"a.b", "b.c.d", "a.b.c.d"},
           {"a.b.c", "b.c.d.e", "a.b.c.d.e"},
           {"a.x", "b.c", "a.x"},   // not the domain
           {"a.b", "bc.d", "a.b"},  // partial component
           {"a.b", "b", "a.b"},     // already qualified
           {"a.b.c.d", "b.c.d", "a.b.c.d"},
           {"a.b.c", "b.x.d", "a.b.c"},
           {"a.", "x.y", "a."}}) {  // empty part, no match
    EXPECT_EQ(qualifyHostName(c.host, c.domain), c.expected)
        << (c.host ? c.host : "null") << " " << (c.domain ? c.domain : "null");
  }
}

TEST_F(RuntimeConfigTest, HostNameIsQualifiedWithLocalDomain) {
  values_ = {{"QV_LOCAL_DOMAIN", "talvo.test"}};
  std::string host = platform::hostName().value_or("unknown_host");
  EXPECT_EQ(load().hostName(), qualifyHostName(host.c_str(), "talvo.test"));
}

TEST_F(RuntimeConfigTest, TracePrefix) {
  values_ = {{"QV_SERVER_NAME", "QV_daemon"}};
  RuntimeConfig& c = load();
  EXPECT_EQ(c.tracePrefix(), "[talvod: ");
  EXPECT_EQ(c.tracePrefix(""), "[talvod: ");
  EXPECT_EQ(c.tracePrefix("QV_daemon"), "[QV_daemon: ");  // given: as is
  c.setServerName("bank");
  EXPECT_EQ(c.tracePrefix(), "[bank: ");
  values_.clear();
  c.setServerName("");
  EXPECT_EQ(c.tracePrefix(), "[Talvo: ");

  c.setDiagnosticsLevel(2);
  const std::string long_form = c.tracePrefix("x");
  EXPECT_TRUE(std::regex_match(
      long_form, std::regex(R"(\[\d\d:\d\d:\d\d --- x@)" + c.hostName() + " ")))
      << long_form;
  c.setDiagnosticsLevel(0);
  EXPECT_EQ(c.tracePrefix("x").substr(0, 1), "[");
  EXPECT_NE(c.tracePrefix("x"), "[x: ");

  c.setDiagnosticsLevel(1);
  TalvoStream stream;
  c.writePrefix(stream, "w");
  EXPECT_EQ(stream.pending(), "[w: ");
}

TEST(RuntimeStartup, BuildsOnceAndKeepsTheObject) {
  runtimeStartup();
  RuntimeConfig& first = runtimeConfig();
  runtimeStartup();
  EXPECT_EQ(&first, &runtimeConfig());
  EXPECT_EQ(first.chain().names().size(), 3u);
  EXPECT_TRUE(traceDispatcher().isActive("QV_StdOut"));
}

// --- error paths ---------------------------------------------------------

TEST_F(RuntimeConfigTest, OutOfRangeVariableYieldsNull) {
  EXPECT_EQ(load().value(ConfigVar::kCount), nullptr);
  EXPECT_STREQ(configVarName(static_cast<ConfigVar>(-1)), "");
}

}  // namespace
}  // namespace talvo
