// The sample server as a real process on loopback: what it serves, what it
// read from its launch environment, and how it ends. Persistent
// registration is tested against the real talvod (sample_daemon_test).

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "greeter.h"
#include "sample_process.h"
#include "support/ports.h"
#include "support/talvod.h"

namespace talvo::examples::testing {
namespace {

using protocol::Value;

const std::string kServer = "examples/talvo_sample_server";

class SampleServerTest : public ::testing::Test {
 protected:
  // Starts the sample server with the isolated environment plus `vars`.
  std::unique_ptr<ChildProcess> launch(std::map<std::string, std::string> vars,
                                       std::vector<std::string> args = {}) {
    auto env = isolatedEnvironment(dir.path());
    vars.merge(env);
    return std::make_unique<ChildProcess>(dir.path(), builtProgram(kServer),
                                          args, vars);
  }

  Status greet(const std::string& port, const std::string& marker,
               const std::string& name, std::string& answer) {
    CallReply reply;
    if (Status st = client.call(greeterAt(port, marker), kGreetSignature,
                                {Value::ofString(name)}, reply)) {
      return st;
    }
    answer = reply.result.text();
    return nullptr;
  }

  TempDir dir;
  QuietContext context;
  MapConfig config;
  Orb client{testOrbOptions(context, config)};
};

// --- Round trips -----------------------------------------------------------

TEST_F(SampleServerTest, LaunchEnvironmentDecidesNamePortAndMarker) {
  // Port 0: the system picks the port; the test finds it.
  auto server = launch({{"QV_SERVER_NAME", "bank"},
                        {"QV_SERVER_PORT", "0"},
                        {"QV_SERVER_MARKER", "acct1"},
                        {"QV_MARKER_PATTERN", "acct*"},
                        {"QV_SERVER_COMMS", "tcp"},
                        {"QV_SERVER_CODE", "xdr"},
                        {"QV_ACT_POLICY", "shared_m"},
                        {"QV_WELL_KNOWN_PORT", "7591"}});
  ASSERT_EQ(server->announcedPort(), "0") << server->errors();
  const std::string port =
      std::to_string(talvo::testing::listeningPort(server->pid()));
  ASSERT_NE(port, "0");

  Target object = greeterAt(port, "acct1");
  object.ref = protocol::ObjectRef("127.0.0.1", "bank", "acct1");
  EXPECT_EQ(client.ping(object), nullptr);

  std::string answer;
  ASSERT_EQ(greet(port, "acct1", "Ada", answer), nullptr);
  EXPECT_EQ(answer,
            "Hello, Ada! This is server bank (marker 'acct1', "
            "launch marker 'acct1', pid " +
                std::to_string(server->pid()) + ").");

  CallReply reply;
  ASSERT_EQ(
      client.call(greeterAt(port, "acct1"), kEnvironmentSignature, {}, reply),
      nullptr);
  std::vector<std::string> seen;
  for (const Value& v : reply.result.as<Value::List>()) {
    seen.push_back(v.text());
  }
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "QV_SERVER_COMMS=tcp", "QV_SERVER_PORT=0",
                      "QV_IIOP_PORT=", "QV_SERVER_CODE=xdr",
                      "QV_SERVER_NAME=bank", "QV_SERVER_MARKER=acct1",
                      "QV_MARKER_PATTERN=acct*", "QV_SERVER_METHOD=",
                      "QV_ACT_POLICY=shared_m", "QV_WELL_KNOWN_PORT=7591"}));
}

TEST_F(SampleServerTest, NullMarkerExtraMarkersRefusalsAndTermination) {
  auto server = launch(
      {{"QV_SERVER_NAME", "shop"}, {"QV_SERVER_MARKER", "QV_nullMarker"}},
      {"--marker", "hello"});
  auto port = server->announcedPort();
  ASSERT_TRUE(port) << server->errors();
  EXPECT_NE(*port, "0");  // no QV_SERVER_PORT: the system chose one
  std::string answer;
  ASSERT_EQ(greet(*port, "", "", answer), nullptr);
  EXPECT_EQ(answer,
            "Hello, stranger! This is server shop (marker '', "
            "launch marker '', pid " +
                std::to_string(server->pid()) + ").");
  ASSERT_EQ(greet(*port, "hello", "Bo", answer), nullptr);
  EXPECT_NE(answer.find("Hello, Bo! This is server shop (marker 'hello', "
                        "launch marker ''"),
            std::string::npos);

  // An unknown marker and an unknown operation are refused.
  Status st = greet(*port, "acct2", "Ada", answer);
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->bareName(), "INV_OBJREF");
  EXPECT_EQ(st->minor(), protocol::kMinorNoObject);
  CallReply reply;
  st = client.call(greeterAt(*port, "hello"), "Ro~shout~+name{0},>{0},N{}",
                   {Value::ofString("x")}, reply);
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->minor(), protocol::kMinorUnknownOperation);

  // A termination signal ends it cleanly.
  auto status = server->stop(SIGTERM);
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0);
  EXPECT_NE(server->output().find("server shop ends on signal 15"),
            std::string::npos);
}

// --- Error paths -----------------------------------------------------------

TEST_F(SampleServerTest, StartFailuresEndTheServerWithAMessage) {
  talvo::testing::LoopbackListener busy;
  const struct {
    std::map<std::string, std::string> env;
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{{"QV_SERVER_NAME", "bank"},
        {"QV_SERVER_PORT", std::to_string(busy.port())}},
       {},
       "cannot start: COMM_FAILURE"},
      // A persistent server needs to know where the daemon is.
      {{}, {"--persistent", "ledger"}, "minor 10621"},
  };
  for (const auto& c : cases) {
    auto server = launch(c.env, c.args);
    auto status = server->wait(std::chrono::seconds(10));
    ASSERT_TRUE(status) << c.message;
    EXPECT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 1) << c.message;
    EXPECT_NE(server->errors().find(c.message), std::string::npos)
        << server->errors();
  }
}

// One connection attempt unless QV_CONNECT_ATTEMPTS asks for more: a server
// that is not there is named at once.
TEST_F(SampleServerTest, ClientNamesAnAbsentServerAtOnce) {
  talvo::testing::LoopbackListener held(/*listen=*/false);
  const std::string port = std::to_string(held.port());
  const auto start = std::chrono::steady_clock::now();
  ChildProcess client(dir.path(), builtProgram("examples/talvo_sample_client"),
                      {"--port", port}, isolatedEnvironment(dir.path()));
  auto status = client.wait(std::chrono::seconds(10));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  ASSERT_TRUE(status && WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 1);
  EXPECT_NE(client.errors().find("greet at 127.0.0.1:" + port +
                                 " failed: COMM_FAILURE minor 10085"),
            std::string::npos)
      << client.errors();
}

}  // namespace
}  // namespace talvo::examples::testing
