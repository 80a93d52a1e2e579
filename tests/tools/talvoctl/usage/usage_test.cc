// talvoctl through its built binary, against a talvod -f that picks its own
// port: every command line does what its help says or is refused with what
// to do instead; markers default to any; a missing daemon is named at once;
// `status` reports the daemon; every --json output follows one schema.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "support/child_process.h"
#include "support/ports.h"
#include "support/talvod.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace talvo::testing {
namespace {

using nlohmann::json;

using Result = RunResult;

class TalvoctlUsageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(dir_.file("imprep"));
    dir_.write("registry",
               "[SOFTWARE\\Brevan Technologies\\Talvo\\2.3c\\Daemon]\n"
               "TraceLevel=0\nPriority=3\n");
    env_ = {{"QV_REGISTRY", dir_.file("registry")},
            {"QV_USE_CONFIG_FILE", "no"},
            {"QV_ERRORS", TALVO_SOURCE_DIR "/etc/Talvo.err"},
            {"QV_IMP_REP_PATH", dir_.file("imprep")}};
  }

  // talvod -f on a port of its own choosing; QV_DAEMON_PORT then names it.
  void startDaemon() {
    daemon_.emplace(DaemonSetup{.settings = "TraceLevel=0\nPriority=3\n"});
    ASSERT_TRUE(daemon_->ready()) << daemon_->log();
    env_["QV_DAEMON_PORT"] = std::to_string(daemon_->port());
  }

  Result run(std::vector<std::string> args) {
    return runToEnd(
        builtProgram("tools/talvoctl/talvoctl"),
        {.args = std::move(args), .env = env_, .inherit_env = false});
  }
  json runJson(std::vector<std::string> args) {
    args.push_back("--json");
    Result r = run(args);
    EXPECT_EQ(r.status, 0) << args[0] << "\n" << r.err;
    return json::parse(r.out, nullptr, false);
  }

  TempDir dir_;
  std::map<std::string, std::string> env_;
  std::optional<DaemonUnderTest> daemon_;
};

// ---- Command lines that are refused say what to do ----------------------

TEST_F(TalvoctlUsageTest, RefusedCommandLinesSayWhatToDo) {
  struct Case {
    std::vector<std::string> args;
    const char* says;
  };
  for (const Case& c : std::vector<Case>{
           {{"lst"}, "unknown command 'lst', did you mean 'list'?"},
           {{"help", "shwo"}, "did you mean 'show'?"},
           {{"create-shared", "foo", "-m", "m1"}, "--command is required"},
           {{"create-shared", "foo", "-c", "/bin/true"},
            "--marker is required"},
           {{"create-shared", "foo", "-m", "a", "-m", "b", "-c", "X"},
            "2 markers but 1 command: give one -c CMD for each -m MARKER"},
           {{"create-per-method", "foo", "-M", "a", "-c", "X", "-c", "Y"},
            "1 method but 2 commands"},
           {{"show", ""}, "talvoctl show: NAME: the server name is empty"},
           {{}, "Usage: talvoctl"}}) {
    Result r = run(c.args);
    EXPECT_EQ(r.status, 2) << c.says;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("A subcommand is required"), std::string::npos);
  }
  Result version = run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "talvoctl (Talvo) 2.3c\n");
  Result help = run({"help", "kill"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("MARKER"), std::string::npos) << help.out;
}

// ---- No daemon: named at once, with the variable or port to fix ---------

TEST_F(TalvoctlUsageTest, MissingDaemonIsNamedAtOnce) {
  Result no_port = run({"list"});
  EXPECT_EQ(no_port.status, 1);
  EXPECT_NE(no_port.err.find("talvoctl list: no daemon port is configured: "
                             "set QV_DAEMON_PORT"),
            std::string::npos)
      << no_port.err;

  LoopbackListener held(/*listen=*/false);  // bound, so connects are refused
  env_["QV_DAEMON_PORT"] = std::to_string(held.port());
  const auto start = std::chrono::steady_clock::now();
  Result refused = run({"show", "foo"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("talvoctl show: cannot reach the daemon at "
                             "127.0.0.1:" +
                             std::to_string(held.port())),
            std::string::npos)
      << refused.err;
  EXPECT_EQ(refused.err.find("getServer"), std::string::npos);

  // Without an error catalogue the message stands alone.
  env_.erase("QV_ERRORS");
  refused = run({"show", "foo"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err,
            "talvoctl show: cannot reach the daemon at 127.0.0.1:" +
                std::to_string(held.port()) +
                ": the connection was refused. Is talvod running "
                "there? --host and --port choose another daemon, "
                "--retry N keeps trying.\n");
}

TEST_F(TalvoctlUsageTest, ConfigJsonNamesTheCheckpointFile) {
  dir_.write("registry",
             "[SOFTWARE\\Brevan Technologies\\Talvo\\2.3c\\Daemon]\n"
             "Checkpoint=yes\nCheckPointFile=/srv/talvod.ckp\n");
  EXPECT_NE(
      run({"config"}).out.find("Checkpointing: on, file /srv/talvod.ckp\n"),
      std::string::npos);
  EXPECT_EQ(runJson({"config"})["checkpoint"],
            (json{{"enabled", true}, {"file", "/srv/talvod.ckp"}}));
}

// ---- Against a daemon: defaults, status, one JSON schema ----------------

// Every key of every object in `value`, with the JSON types it came with.
void collectKeys(const json& value,
                 std::map<std::string, std::set<int>>& keys) {
  if (value.is_array()) {
    for (const json& v : value) collectKeys(v, keys);
  } else if (value.is_object()) {
    for (const auto& [k, v] : value.items()) {
      // Signed or not is the library's business; null is "none" anywhere.
      if (v.is_number_integer()) {
        keys[k].insert(static_cast<int>(json::value_t::number_integer));
      } else if (!v.is_null()) {
        keys[k].insert(static_cast<int>(v.type()));
      }
      collectKeys(v, keys);
    }
  }
}

TEST_F(TalvoctlUsageTest, DaemonCommandsDefaultsStatusAndJsonSchema) {
  startDaemon();
  ASSERT_EQ(
      run({"create-shared", "demo", "-m", "m1", "-c", "/bin/sleep 600"}).status,
      0);
  ASSERT_EQ(run({"grant", "invoke", "alice", "demo"}).status, 0);

  // No marker: any, the record's first.
  json bound = runJson({"bind", "demo"});
  EXPECT_EQ(bound["marker"], "m1");
  EXPECT_TRUE(bound["port"].is_number()) << bound;
  // The server listens nowhere: its ping fails.
  env_["QV_CONNECT_ATTEMPTS"] = "1";
  Result unreachable = run({"bind", "demo", "--ping"});
  env_.erase("QV_CONNECT_ATTEMPTS");
  EXPECT_EQ(unreachable.status, 1);
  EXPECT_NE(
      unreachable.err.find("does not answer its ping (CORBA::COMM_FAILURE)"),
      std::string::npos)
      << unreachable.err;

  json status = runJson({"status"});
  EXPECT_EQ(status["pid"], daemon_->process().pid());
  EXPECT_EQ(status["port"], std::stoi(env_["QV_DAEMON_PORT"]));
  EXPECT_EQ(status["protocol"], "Talvo-XDR");
  EXPECT_EQ(status["runningServers"], 1);
  EXPECT_FALSE(status["host"].get<std::string>().empty());

  // Every command with --json: one key for one thing, one type per key,
  // ports and process ids as numbers, access lists as arrays.
  std::map<std::string, std::set<int>> keys;
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"list"},
                                             {"show", "demo"},
                                             {"bind", "demo", "m1"},
                                             {"active"},
                                             {"config"},
                                             {"status"}}) {
    collectKeys(runJson(args), keys);
  }
  for (const auto& [key, types] : keys) {
    EXPECT_EQ(types.size(), 1u) << key << " has several types";
  }
  for (const char* number : {"port", "pid", "nservers", "runningServers"}) {
    EXPECT_EQ(keys[number],
              std::set<int>{static_cast<int>(json::value_t::number_integer)})
        << number;
  }
  for (const char* renamed : {"code", "comms", "commsPort", "iiop"}) {
    EXPECT_EQ(keys.count(renamed), 0u) << renamed;
  }
  json shown = runJson({"show", "demo"});
  EXPECT_EQ(shown["invokeList"], json::array({"alice"}));

  // Kill without a marker stops the server's processes, whatever marker.
  EXPECT_EQ(run({"kill", "demo"}).status, 0);
  EXPECT_EQ(runJson({"active"}), json::array());
  Result none = run({"kill", "demo"});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("talvoctl kill: no process of demo is running"),
            std::string::npos)
      << none.err;
}

}  // namespace
}  // namespace talvo::testing
