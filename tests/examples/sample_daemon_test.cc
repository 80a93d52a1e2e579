// The walk-through of examples/README.md against the real talvod: register
// the sample server, let the daemon launch it on a binding request, call
// greet on the answered port, see it listed, kill it. (The persistent
// variant, registered by the sample server itself, is talvoctl's test.)

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "greeter.h"
#include "sample_process.h"
#include "support/talvod.h"
#include "support/talvod_client.h"
#include "support/transport_context.h"

namespace talvo::examples::testing {
namespace {

using client::Strings;
using protocol::Value;
using talvo::testing::eventually;

class SampleDaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(daemon.ready()) << daemon.log();
    talvod = std::make_unique<talvo::testing::TalvodClient>(daemon.port());
  }

  // Asks the daemon for the port of `server`'s object `marker`.
  Status bind(const std::string& server, const std::string& marker,
              std::string& port) {
    client::ImplementationDetails d;
    if (Status st = talvod->getImplementationDetails(server, marker, "", &d)) {
      return st;
    }
    port = d.commsPort;
    return nullptr;
  }

  // greet on 127.0.0.1:`port`; remembers the answering process.
  std::string greet(const std::string& port, const std::string& marker) {
    CallReply reply;
    Status st = talvod->orb().call(greeterAt(port, marker), kGreetSignature,
                                   {Value::ofString("Ada")}, reply);
    EXPECT_EQ(st, nullptr) << (st ? describe(*st) : "");
    if (st) return "";
    std::string text = reply.result.text();
    auto at = text.find("pid ");
    if (at != std::string::npos) {
      launched.push_back(std::stoul(text.substr(at + 4)));
    }
    return text;
  }

  // The active servers as "server/marker/status" texts.
  Strings active() {
    std::vector<client::ServerDetails> servers;
    EXPECT_EQ(talvod->listActiveServers(&servers), nullptr);
    Strings out;
    for (const auto& d : servers) {
      out.push_back(d.server + "/" + d.marker + "/" +
                    std::to_string(static_cast<std::uint32_t>(d.status)));
    }
    return out;
  }

  talvo::testing::DaemonUnderTest daemon{
      {.settings = "TraceLevel=1\nUPS=yes\nPriority=3\nLog=no\n"}};
  const TempDir& dir = daemon.dir();
  std::unique_ptr<talvo::testing::TalvodClient> talvod;
  std::vector<std::uint32_t> launched;
};

TEST_F(SampleDaemonTest, LaunchedOnBindingCalledListedAndKilled) {
  ASSERT_EQ(talvod->newSharedServer(
                "greeter", Strings{"*"},
                Strings{builtProgram("examples/talvo_sample_server") +
                        " --marker hello"},
                0u),
            nullptr);

  std::string port;
  ASSERT_EQ(bind("greeter", "hello", port), nullptr) << daemon.log();
  // The daemon does not wait for the server to come up.
  ASSERT_TRUE(eventually([&] {
    CallReply r;
    return talvod->orb().call(greeterAt(port, "hello"), kGreetSignature,
                              {Value::ofString("Ada")}, r) == nullptr;
  })) << daemon.log();
  std::string answer = greet(port, "hello");
  ASSERT_NE(answer.find("Hello, Ada! This is server greeter (marker 'hello', "
                        "launch marker '*'"),
            std::string::npos)
      << answer << daemon.log();
  ASSERT_EQ(launched.size(), 1u);

  // A second binding finds the running process.
  std::string again;
  ASSERT_EQ(bind("greeter", "hello", again), nullptr);
  EXPECT_EQ(again, port);
  EXPECT_EQ(active(), Strings{"greeter/*/2"});

  ASSERT_EQ(talvod->killServer("greeter", "hello"), nullptr) << daemon.log();
  EXPECT_TRUE(
      eventually([&] { return talvo::testing::processGone(launched[0]); }));
  EXPECT_TRUE(active().empty());
}

TEST_F(SampleDaemonTest, IiopClientIsForwardedToTheServerItLaunches) {
  ASSERT_EQ(talvod->newSharedServer(
                "greeter", Strings{"*"},
                Strings{builtProgram("examples/talvo_sample_server") +
                        " --marker hello"},
                0u),
            nullptr);
  // The daemon's own interface over IIOP (QV_DAEMON_PROTOCOL=IIOP).
  talvo::testing::QuietContext context;
  talvo::testing::TestConfig config(
      {{"QV_DAEMON_PORT", std::to_string(daemon.port())},
       {"QV_DAEMON_PROTOCOL", "IIOP"}});
  Orb orb(OrbOptions{
      .context = &context, .config = &config.get(), .reply_timeout_ms = 15000});
  Target at_daemon;
  ASSERT_EQ(orb.daemonTarget("127.0.0.1", at_daemon), nullptr);
  ASSERT_TRUE(at_daemon.iiop);
  client::DaemonClient c(orb, at_daemon);
  bool exists = false;
  ASSERT_EQ(c.serverExists("greeter", &exists), nullptr) << daemon.log();
  EXPECT_TRUE(exists);

  // An object of the server, addressed to the daemon's port: over the
  // broker protocol it is not there; over IIOP the daemon launches the
  // server and forwards the call to it.
  at_daemon.ref = protocol::ObjectRef(config.get().hostName(), "greeter",
                                      "hello", "", "IR", kGreeterInterface);
  CallReply reply;
  Target broker = at_daemon;
  broker.iiop = false;
  Status st =
      orb.call(broker, kGreetSignature, {Value::ofString("Ada")}, reply);
  EXPECT_EQ(st ? st->minor() : 0u, 10101u);
  EXPECT_TRUE(active().empty());

  st = orb.call(at_daemon, kGreetSignature, {Value::ofString("Ada")}, reply);
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->bareName(), "IIOP");
  EXPECT_EQ(st->minor(), 10601u);
  ASSERT_TRUE(reply.forward);
  const Target server = iiopTarget(*reply.forward);
  EXPECT_EQ(server.ref.toString(), at_daemon.ref.toString());
  EXPECT_NE(daemon.log().find("redirecting request to greeter on port " +
                              server.port + "]"),
            std::string::npos)
      << daemon.log();
  // The forward came once the server listened: the first call answers.
  ASSERT_EQ(orb.call(server, kGreetSignature, {Value::ofString("Ada")}, reply),
            nullptr);
  EXPECT_NE(reply.result.text().find("Hello, Ada! This is server greeter "
                                     "(marker 'hello'"),
            std::string::npos);
  EXPECT_EQ(active(), Strings{"greeter/*/2"});
}

}  // namespace
}  // namespace talvo::examples::testing
