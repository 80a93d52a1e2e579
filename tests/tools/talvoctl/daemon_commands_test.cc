// The daemon commands of the built talvoctl against a daemon object served
// over loopback by the test: output, --json parsed back, exceptions on
// standard error in their printed form, exit statuses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "loopback_daemon.h"
#include "run_talvoctl.h"
#include "support/child_process.h"

namespace {

using Result = talvo::testing::TalvoctlResult;

// The names of a `list --json`, sorted.
std::vector<std::string> listed(const nlohmann::json& entries) {
  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(e["name"]);
  std::sort(names.begin(), names.end());
  return names;
}

class DaemonCommandsTest : public ::testing::Test {
 protected:
  DaemonCommandsTest() {
    const std::string dir = daemon_.base();
    std::ofstream(dir + "/errors")
        << "catalogue for the test\n"
           "10200\tNo implementation available\n"
           "10240\tOperation refused\n"
           "10241\tThere is no server %s in the implementation repository.\n"
           "10620\tNo configuration value\n"
           "10621\tThe variable %s has no value.\n";
    env_ = {{"QV_ERRORS", dir + "/errors"},
            {"QV_REGISTRY", dir + "/registry"},
            {"QV_CONFIG_PATH", dir},
            {"QV_DAEMON_PORT", std::to_string(daemon_.port())}};
  }

  // Runs talvoctl with exactly env_; standard error goes through a file in
  // the test's folder.
  Result run(const std::string& args) {
    return talvo::testing::runTalvoctl(args, env_, daemon_.base() + "/stderr");
  }
  nlohmann::json json(const std::string& args) {
    Result r = run(args + " --json");
    EXPECT_EQ(r.status, 0) << args << "\n" << r.err;
    return nlohmann::json::parse(r.out, nullptr, false);
  }
  void ok(const std::string& args) {
    Result r = run(args);
    EXPECT_EQ(r.status, 0) << args << "\n" << r.out << r.err;
  }

  talvo::testing::LoopbackDaemon daemon_;
  std::map<std::string, std::string> env_;
};

// --- round trips -------------------------------------------------------------

TEST_F(DaemonCommandsTest, CreateShowListAndDelete) {
  ok("create-shared bank -m m1 -c 'srv -a' -m m2 -c 'srv -b' --flags 1");
  ok("create-shared rr -m '*' -c rr --servers 3 --server-port 4100");
  ok("create-unshared solo -m x -c solo --flags 2");
  ok("create-per-method pm -M op1 -c a -M op2 -c b");

  nlohmann::json bank = json("show bank");
  EXPECT_EQ(bank["activationPolicy"], "shared");
  EXPECT_EQ(bank["modeFlags"], 1);
  EXPECT_EQ(bank["markers"], nlohmann::json({"m1", "m2"}));
  EXPECT_EQ(bank["commands"], nlohmann::json({"srv -a", "srv -b"}));
  nlohmann::json rr = json("show rr");
  EXPECT_EQ(rr["nservers"], 3);
  EXPECT_EQ(rr["port"], 4100);
  EXPECT_EQ(json("show rr --basic")["nservers"], 0);
  EXPECT_EQ(json("show solo")["activationPolicy"], "unshared");
  auto methods = json("show pm")["methods"].get<std::vector<std::string>>();
  std::sort(methods.begin(), methods.end());
  EXPECT_EQ(methods, (std::vector<std::string>{"op1", "op2"}));

  // The readable form: a table with a row per marker.
  Result shown = run("show bank");
  ASSERT_EQ(shown.status, 0);
  EXPECT_NE(shown.out.find("policy"), std::string::npos);
  EXPECT_NE(shown.out.find("m2  "), std::string::npos);
  EXPECT_NE(shown.out.find("srv -b"), std::string::npos);

  std::vector<std::string> sorted = listed(json("list"));
  EXPECT_EQ(sorted, (std::vector<std::string>{"bank", "pm", "rr", "solo"}));

  Result yes = run("exists bank");
  EXPECT_EQ(yes.status, 0);
  EXPECT_EQ(yes.out, "yes\n");
  ok("delete bank");
  Result no = run("exists bank");
  EXPECT_EQ(no.status, 3);
  EXPECT_EQ(no.out, "no\n");
}

TEST_F(DaemonCommandsTest, EditMarkersMethodsDirectoriesAndRights) {
  ok("create-shared s -m a -c 'cmd a'");
  ok("add-marker s b 'cmd b'");
  ok("add-marker s h 'cmd h' --shared");
  EXPECT_EQ(run("add-marker s u 'cmd u' --unshared").status, 1);
  ok("remove-marker s b");
  ok("remove-marker s h --shared");
  EXPECT_EQ(json("show s")["markers"], nlohmann::json({"a"}));
  ok("create-unshared u -m a -c 'cmd a'");
  ok("add-marker u x 'cmd x' --unshared");
  EXPECT_EQ(json("show u")["markers"].size(), 2u);
  ok("remove-marker u x --unshared");
  ok("create-per-method pm -M op -c x");
  ok("add-method pm op2 y");
  ok("remove-method pm op");
  EXPECT_EQ(json("show pm")["methods"], nlohmann::json({"op2"}));

  ok("grant invoke carol s");
  ok("grant launch dave s");
  nlohmann::json s = json("show s");
  EXPECT_EQ(s["invokeList"], nlohmann::json({"carol"}));
  EXPECT_EQ(s["launchList"], nlohmann::json({"dave"}));
  ok("revoke invoke carol s");
  ok("revoke launch dave s");
  EXPECT_EQ(json("show s")["invokeList"], nlohmann::json::array());

  ok("mkdir d");
  ok("create-shared d/inner -m m -c c");
  EXPECT_EQ(listed(json("list d")), std::vector<std::string>{"inner"});
  for (const char* right : {"invoke", "launch", "dir"}) {
    ok(std::string("grant ") + right + " frank d --dir");
    ok(std::string("revoke ") + right + " frank d --dir");
  }
  ok("rmdir d --recursive");
  EXPECT_EQ(listed(json("list")), (std::vector<std::string>{"pm", "s", "u"}));
  ok("mkdir e");
  ok("create-shared e/x -m m -c c");
  ok("chown grace e --dir");
  EXPECT_EQ(json("show e/x")["owner"], "grace");
  ok("chown erin s");
  EXPECT_EQ(json("show s")["owner"], "erin");
}

TEST_F(DaemonCommandsTest, LegacyModeAndTheDefaultPort) {
  ok("legacy on");
  ok("create-shared old -m m -c c");
  ok("legacy off");
  // Without QV_DAEMON_PORT, --port says where the daemon is.
  env_.erase("QV_DAEMON_PORT");
  ok("create-shared new -m m -c c --port " + std::to_string(daemon_.port()));
  ok("--port " + std::to_string(daemon_.port()) + " exists new");
  env_["QV_DAEMON_PORT"] = std::to_string(daemon_.port());
  EXPECT_EQ(json("show old")["codeProtocol"], "xdr");
  EXPECT_EQ(json("show new")["codeProtocol"], "cdr");
}

// --- error paths -------------------------------------------------------------

TEST_F(DaemonCommandsTest, ExceptionsArePrintedAndExitOne) {
  Result r = run("delete ghost");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "talvoctl delete: failed with CORBA::BAD_OPERATION\n"
            "10241-- Operation refused\n"
            "  - There is no server ghost in the implementation repository.\n"
            "  [Completion status : COMPLETED_NO]\n");
  EXPECT_EQ(run("bind ghost").status, 1);
}

TEST_F(DaemonCommandsTest, VerboseWritesTraceLinesToStandardError) {
  Result quiet = run("list");
  EXPECT_EQ(quiet.err, "");
  Result loud = run("-v list --json");
  ASSERT_EQ(loud.status, 0);
  EXPECT_NE(loud.err.find("New Connection"), std::string::npos) << loud.err;
  EXPECT_EQ(nlohmann::json::parse(loud.out), nlohmann::json::array());
}

TEST_F(DaemonCommandsTest, BadCommandLinesExitTwo) {
  for (const char* cmd :
       {"", "frobnicate", "show", "create-shared", "legacy maybe",
        "grant write u s", "grant dir u s", "lookup svc --hops 300",
        "register s notapid", "create-shared s --flags -1",
        "add-marker s m c --shared --unshared", "list --port 0"}) {
    Result r = run(cmd);
    EXPECT_EQ(r.status, 2) << "'" << cmd << "'\n" << r.err;
  }
}

// --- the activation road (an activator over a fake run time) ---------------

class ActivationCommandsTest : public DaemonCommandsTest {
 protected:
  ActivationCommandsTest() {
    env_["QV_DAEMON_PORT"] = std::to_string(active_.port());
    env_["QV_CONNECT_ATTEMPTS"] = "1";  // a refused ping fails at once
  }
  // Servers get ports from a range of this test process's own; the
  // allocator skips any port taken, and the test reads the one it gave.
  talvo::testing::LoopbackDaemon active_{
      true, static_cast<std::uint16_t>(10000 + ::getpid() % 10000), 20};
  // A process that stands for a server started by hand.
  talvo::testing::ChildProcess child_{"/bin/sleep", sleepOptions()};

 private:
  static talvo::testing::ChildOptions sleepOptions() {
    talvo::testing::ChildOptions o;
    o.args = {"60"};
    return o;
  }
};

TEST_F(ActivationCommandsTest, RegisterListBindPingAndKill) {
  const pid_t pid = child_.pid();
  active_.runtime().alive_pid = pid;
  ok("create-shared bank -m m -c 'bank-server'");
  Result reg = run("register bank " + std::to_string(pid));
  ASSERT_EQ(reg.status, 0) << reg.err;

  nlohmann::json active = json("active");
  ASSERT_EQ(active.size(), 1u) << active.dump();
  EXPECT_EQ(active[0]["server"], "bank");
  const std::string port = std::to_string(active[0]["port"].get<int>());
  EXPECT_NE(reg.out.find(port), std::string::npos) << reg.out;
  EXPECT_EQ(active[0]["pid"], pid);
  EXPECT_EQ(active[0]["status"], "manualLaunch");
  Result table = run("active");
  EXPECT_EQ(table.out.rfind("SERVER  ", 0), 0u) << table.out;

  EXPECT_EQ(json("bind bank m")["port"], std::stoi(port));
  // Nothing listens at the port yet: the ping fails.
  Result unreachable = run("bind bank m --ping");
  EXPECT_EQ(unreachable.status, 1);
  EXPECT_NE(
      unreachable.err.find("does not answer its ping (CORBA::COMM_FAILURE)"),
      std::string::npos)
      << unreachable.err;
  {
    talvo::testing::PingServer server(port, "m");
    Result bound = run("bind bank m --ping");
    EXPECT_EQ(bound.status, 0) << bound.err;
    EXPECT_NE(bound.out.find("ping: ok"), std::string::npos) << bound.out;
  }

  ok("kill bank m");
  EXPECT_TRUE(child_.wait());
  active_.runtime().alive_pid = 0;
  EXPECT_EQ(json("active"), nlohmann::json::array());
}

}  // namespace
