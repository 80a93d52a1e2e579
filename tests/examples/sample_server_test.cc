// The sample server as a real process on loopback: what it serves, what it
// read from its launch environment, persistent registration against a
// stand-in daemon, and how it ends.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <mutex>
#include <string>
#include <vector>

#include "client/daemon_operations.h"
#include "daemon/talvod_process.h"
#include "greeter.h"
#include "sample_process.h"

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

TEST_F(SampleServerTest, NullMarkerAndExtraMarkersAreServed) {
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
}

// --- Error paths -----------------------------------------------------------

TEST_F(SampleServerTest, UnknownMarkerAndOperationAreRefused) {
  auto server =
      launch({{"QV_SERVER_NAME", "bank"}, {"QV_SERVER_MARKER", "acct1"}});
  auto port = server->announcedPort();
  ASSERT_TRUE(port) << server->errors();
  std::string answer;
  Status st = greet(*port, "acct2", "Ada", answer);
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->bareName(), "INV_OBJREF");
  EXPECT_EQ(st->minor(), protocol::kMinorNoObject);

  CallReply reply;
  st = client.call(greeterAt(*port, "acct1"), "Ro~shout~+name{0},>{0},N{}",
                   {Value::ofString("x")}, reply);
  ASSERT_NE(st, nullptr);
  EXPECT_EQ(st->minor(), protocol::kMinorUnknownOperation);
}

TEST_F(SampleServerTest, BusyPortEndsTheServerWithAMessage) {
  OrbThread holder;
  std::uint16_t busy = 0;
  ASSERT_EQ(holder.orb().listen("0", &busy), nullptr);
  auto server = launch(
      {{"QV_SERVER_NAME", "bank"}, {"QV_SERVER_PORT", std::to_string(busy)}});
  auto status = server->wait(std::chrono::seconds(10));
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 1);
  EXPECT_NE(server->errors().find("cannot start: COMM_FAILURE"),
            std::string::npos)
      << server->errors();
}

TEST_F(SampleServerTest, TerminationSignalEndsItCleanly) {
  auto server = launch({{"QV_SERVER_NAME", "bank"}});
  ASSERT_TRUE(server->announcedPort()) << server->errors();
  auto status = server->stop(SIGTERM);
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0);
  EXPECT_NE(server->output().find("server bank ends on signal 15"),
            std::string::npos);
}

// --- Persistent registration ----------------------------------------------

// A stand-in daemon answering registerPersistentServer with a fixed port,
// or refusing it, and remembering who asked.
struct StandInDaemon {
  explicit StandInDaemon(bool refuse) {
    auto iface = std::make_shared<protocol::Interface>(
        std::string(client::kDaemonInterfaceName));
    const auto& op =
        client::daemonOperation(client::DaemonOp::kRegisterPersistentServer);
    iface->addOperation(op.signature, [this, refuse](protocol::Request& r) {
      std::lock_guard lock(mu);
      name = r.arg(0).text();
      pid = r.arg(1).as<std::uint32_t>();
      peer_server = r.peer.server_name;
      peer_pid = r.peer.pid;
      if (refuse) {
        r.raise(CORBA::BAD_OPERATION(10243, CORBA::COMPLETED_NO, name));
        return;
      }
      r.args[2] = Value::ofString("xdr");
      r.args[3] = Value::ofString("tcp");
      r.args[4] = Value::ofString(assigned);
    });
    thread.orb().serve("", iface);
    std::uint16_t bound = 0;
    EXPECT_EQ(thread.orb().listen("0", &bound), nullptr);
    port = std::to_string(bound);
    thread.start();
  }

  OrbThread thread;
  std::string port;
  // Port 0: the server takes the port the system picks.
  std::string assigned = "0";
  std::mutex mu;  // guards what the daemon's thread records below
  std::string name, peer_server;
  std::uint32_t pid = 0, peer_pid = 0;
};

TEST_F(SampleServerTest, PersistentServerRegistersAndKeepsItsConnection) {
  StandInDaemon daemon(false);
  auto server =
      launch({}, {"--persistent", "ledger", "--daemon-port", daemon.port,
                  "--daemon-host", "127.0.0.1", "--marker", "hello"});
  ASSERT_EQ(server->announcedPort(), "0") << server->errors();
  const std::string port =
      std::to_string(talvo::testing::listeningPort(server->pid()));
  ASSERT_NE(port, "0");
  const std::uint32_t pid = static_cast<std::uint32_t>(server->pid());
  std::unique_lock lock(daemon.mu);
  EXPECT_EQ(daemon.name, "ledger");
  EXPECT_EQ(daemon.pid, pid);
  // The connection names the server and its process: that is how the
  // daemon tells whether the registered server still lives.
  EXPECT_EQ(daemon.peer_server, "ledger");
  EXPECT_EQ(daemon.peer_pid, pid);
  lock.unlock();

  std::string answer;
  ASSERT_EQ(greet(port, "hello", "Cy", answer), nullptr);
  EXPECT_NE(answer.find("This is server ledger"), std::string::npos);
  EXPECT_EQ(daemon.thread.channels.load(), 1u);  // still connected

  ASSERT_TRUE(server->stop(SIGTERM));
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (daemon.thread.channels.load() != 0 &&
         std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(daemon.thread.channels.load(), 0u);
}

TEST_F(SampleServerTest, RefusedRegistrationEndsTheServer) {
  StandInDaemon daemon(true);
  auto server = launch({}, {"--persistent", "ledger", "--daemon-port",
                            daemon.port, "--daemon-host", "127.0.0.1"});
  auto status = server->wait(std::chrono::seconds(10));
  ASSERT_TRUE(status);
  EXPECT_EQ(WEXITSTATUS(*status), 1);
  EXPECT_NE(server->errors().find("BAD_OPERATION minor 10243 (ledger)"),
            std::string::npos)
      << server->errors();
}

TEST_F(SampleServerTest, PersistentWithoutDaemonPortFails) {
  auto server = launch({}, {"--persistent", "ledger"});
  auto status = server->wait(std::chrono::seconds(10));
  ASSERT_TRUE(status);
  EXPECT_EQ(WEXITSTATUS(*status), 1);
  EXPECT_NE(server->errors().find("minor 10621"), std::string::npos)
      << server->errors();
}

}  // namespace
}  // namespace talvo::examples::testing
