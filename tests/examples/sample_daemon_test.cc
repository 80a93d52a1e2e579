// The walk-through of examples/README.md against the real talvod: register
// the sample server, let the daemon launch it on a binding request, call
// greet on the answered port, see it listed, kill it; and the persistent
// variant, registered by the sample server itself.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "client/daemon_client.h"
#include "daemon/talvod_process.h"
#include "greeter.h"
#include "sample_process.h"
#include "support/wait.h"

namespace talvo::examples::testing {
namespace {

using client::Strings;
using protocol::Value;
using talvo::testing::eventually;

// True while a process of that id exists and has not ended (a zombie
// waiting for its parent counts as ended).
bool processRuns(std::uint32_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(stat, text)) return false;
  auto close = text.rfind(')');
  return close != std::string::npos && close + 2 < text.size() &&
         text[close + 2] != 'Z' && text[close + 2] != 'X';
}

class SampleDaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.write("registry", talvo::testing::daemonRegistry(
                              "TraceLevel=1\nUPS=yes\nPriority=3\nLog=no\n"));
    // The daemon picks its own port; servers get ports from a range of
    // this test process's own, of which the daemon skips any port taken.
    auto extra = isolatedEnvironment(dir.path());
    extra.erase("QV_REGISTRY");
    extra["QV_DAEMON_SERVER_BASE"] = std::to_string(20000 + ::getpid() % 20000);
    extra["QV_DAEMON_SERVER_RANGE"] = "20";
    daemon = std::make_unique<talvo::testing::Talvod>(
        dir, std::vector<std::string>{"-f"}, extra);
    const std::uint16_t port = daemon->port();
    ASSERT_NE(port, 0) << daemon->output() << daemon->errors();
    daemon_port = std::to_string(port);
    config = std::make_unique<MapConfig>(
        std::map<std::string, std::string>{{"QV_DAEMON_PORT", daemon_port}});
    orb = std::make_unique<Orb>(testOrbOptions(context, *config));
    Target target;
    ASSERT_EQ(orb->daemonTarget("127.0.0.1", target), nullptr);
    talvod = std::make_unique<client::DaemonClient>(*orb, target);
  }

  void TearDown() override {
    // Servers the daemon launched are not its to end when it stops: end
    // its children first.
    if (!daemon) return;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      const std::string name = entry.path().filename().string();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      std::ifstream stat(entry.path() / "stat");
      std::string text;
      if (!std::getline(stat, text)) continue;
      auto close = text.rfind(')');
      if (close == std::string::npos) continue;
      std::istringstream rest(text.substr(close + 2));
      char state = 0;
      pid_t parent = 0;
      rest >> state >> parent;
      if (parent == daemon->pid()) kill(std::stoi(name), SIGKILL);
    }
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
    Status st = orb->call(greeterAt(port, marker), kGreetSignature,
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

  TempDir dir;
  std::string daemon_port;
  std::unique_ptr<talvo::testing::Talvod> daemon;
  QuietContext context;
  std::unique_ptr<MapConfig> config;
  std::unique_ptr<Orb> orb;
  std::unique_ptr<client::DaemonClient> talvod;
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
  ASSERT_EQ(bind("greeter", "hello", port), nullptr) << daemon->output();
  // The daemon does not wait for the server to come up.
  ASSERT_TRUE(eventually([&] {
    CallReply r;
    return orb->call(greeterAt(port, "hello"), kGreetSignature,
                     {Value::ofString("Ada")}, r) == nullptr;
  })) << daemon->output();
  std::string answer = greet(port, "hello");
  ASSERT_NE(answer.find("Hello, Ada! This is server greeter (marker 'hello', "
                        "launch marker '*'"),
            std::string::npos)
      << answer << daemon->output();
  ASSERT_EQ(launched.size(), 1u);

  // A second binding finds the running process.
  std::string again;
  ASSERT_EQ(bind("greeter", "hello", again), nullptr);
  EXPECT_EQ(again, port);
  EXPECT_EQ(active(), Strings{"greeter/*/2"});

  ASSERT_EQ(talvod->killServer("greeter", "hello"), nullptr)
      << daemon->output();
  EXPECT_TRUE(eventually([&] { return !processRuns(launched[0]); }));
  EXPECT_TRUE(active().empty());
}

TEST_F(SampleDaemonTest, PersistentServerIsFoundWithoutLaunch) {
  auto env_server = isolatedEnvironment(dir.path());
  env_server["QV_DAEMON_PORT"] = daemon_port;
  ChildProcess server(dir.path(), builtProgram("examples/talvo_sample_server"),
                      {"--persistent", "ledger", "--daemon-host", "127.0.0.1",
                       "--marker", "hello"},
                      env_server);
  auto port = server.announcedPort();
  ASSERT_TRUE(port) << server.errors() << daemon->output();

  std::string bound;
  ASSERT_EQ(bind("ledger", "hello", bound), nullptr) << daemon->output();
  EXPECT_EQ(bound, *port);
  EXPECT_NE(greet(bound, "hello").find("server ledger"), std::string::npos);
  EXPECT_EQ(active(), Strings{"ledger/*/1"});

  // A second registration of the same name is refused while it lives.
  ChildProcess twin(dir.path(), builtProgram("examples/talvo_sample_server"),
                    {"--persistent", "ledger", "--daemon-host", "127.0.0.1"},
                    env_server);
  auto status = twin.wait(std::chrono::seconds(10));
  ASSERT_TRUE(status);
  EXPECT_NE(twin.errors().find("BAD_OPERATION minor 10243"), std::string::npos)
      << twin.errors();

  // Killing it ends the process, which holds its own connection.
  ASSERT_EQ(talvod->killServer("ledger", "hello"), nullptr) << daemon->output();
  EXPECT_TRUE(server.wait(std::chrono::seconds(10)));
  EXPECT_TRUE(active().empty());
}

TEST_F(SampleDaemonTest, RegistrationNamingAnotherProcessCannotGetItSignalled) {
  // A client registers a persistent server under the process id of a
  // process that has nothing to do with it; killing the server removes the
  // record and leaves that process alone.
  ChildProcess bystander(dir.path(), "/bin/sleep", {"30"},
                         isolatedEnvironment(dir.path()));
  client::PersistentServerDetails assigned;
  ASSERT_EQ(
      talvod->registerPersistentServer(
          "forged", static_cast<std::uint32_t>(bystander.pid()), &assigned),
      nullptr)
      << daemon->output();
  // The kill finds the record (else 10244) and removes it.
  ASSERT_EQ(talvod->killServer("forged", ""), nullptr) << daemon->output();
  Status again = talvod->killServer("forged", "");
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->minor(), 10244u);
  EXPECT_FALSE(bystander.wait(std::chrono::milliseconds(300)));  // still up
}

}  // namespace
}  // namespace talvo::examples::testing
