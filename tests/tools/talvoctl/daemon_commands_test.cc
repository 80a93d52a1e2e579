// The daemon commands of the built talvoctl against the built talvod:
// output, --json parsed back, exceptions on standard error in their printed
// form, exit statuses.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>

#include "run_talvoctl.h"
#include "runtime/protocol/object_ref.h"
#include "support/child_process.h"
#include "support/ports.h"
#include "support/talvod.h"

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
  void SetUp() override {
    ASSERT_TRUE(daemon_.ready()) << daemon_.log();
    const std::string dir = daemon_.dir().path();
    daemon_.dir().write(
        "errors",
        "catalogue for the test\n"
        "10240\tOperation refused\n"
        "10241\tThere is no server %s in the implementation repository.\n"
        "10620\tNo configuration value\n"
        "10621\tThe variable %s has no value.\n");
    env_ = {{"QV_ERRORS", dir + "/errors"},
            {"QV_REGISTRY", dir + "/registry"},
            {"QV_CONFIG_PATH", dir},
            {"QV_DAEMON_PORT", std::to_string(daemon_.port())}};
  }

  // Runs talvoctl with exactly env_, standard error apart.
  Result run(const std::string& args) {
    return talvo::testing::runTalvoctl(args, env_, false);
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

  talvo::testing::DaemonUnderTest daemon_;
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
  for (std::string right : {"invoke", "launch", "dir"}) {
    ok("grant " + right + " frank d --dir");
    if (right != "dir") {  // the records in it get the right, and lose it
      EXPECT_EQ(json("show d/inner")[right + "List"],
                nlohmann::json({"frank"}));
    }
    ok("revoke " + right + " frank d --dir");
    if (right != "dir") {
      EXPECT_EQ(json("show d/inner")[right + "List"], nlohmann::json::array());
    }
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

// --- the activation road ----------------------------------------------------

TEST_F(DaemonCommandsTest, PersistentServerIsListedBoundPingedAndKilled) {
  ok("create-shared bank -m m -c 'bank-server'");
  // The sample server registers itself and holds its connection.
  const std::map<std::string, std::string> server_env = {
      {"QV_DAEMON_PORT", std::to_string(daemon_.port())},
      {"QV_REGISTRY", daemon_.dir().file("absent")},
      {"QV_USE_CONFIG_FILE", "no"}};
  talvo::testing::ChildProcess server(
      talvo::testing::builtProgram("examples/talvo_sample_server"),
      {.args = {"--persistent", "bank", "--daemon-host", "127.0.0.1",
                "--marker", "m"},
       .env = server_env,
       .inherit_env = false,
       .output_dir = daemon_.dir().path()});
  ASSERT_TRUE(server.waitForOutput(" on port ")) << server.errors();
  // A second registration of the name is refused while the first lives.
  talvo::testing::ChildProcess twin(
      talvo::testing::builtProgram("examples/talvo_sample_server"),
      {.args = {"--persistent", "bank", "--daemon-host", "127.0.0.1"},
       .env = server_env,
       .inherit_env = false,
       .output_dir = daemon_.dir().path()});
  EXPECT_EQ(twin.exitCode(), 1);
  EXPECT_NE(twin.errors().find("BAD_OPERATION minor 10243"), std::string::npos)
      << twin.errors();

  nlohmann::json active = json("active");
  ASSERT_EQ(active.size(), 1u) << active.dump();
  EXPECT_EQ(active[0]["server"], "bank");
  EXPECT_EQ(active[0]["pid"], server.pid());
  EXPECT_EQ(active[0]["status"], "manualLaunch");
  const int port = active[0]["port"].get<int>();
  EXPECT_NE(server.output().find(" on port " + std::to_string(port)),
            std::string::npos)
      << server.output();
  EXPECT_EQ(run("active").out.rfind("SERVER  ", 0), 0u);

  EXPECT_EQ(json("bind bank m")["port"], port);
  Result bound = run("bind bank m --ping");
  EXPECT_EQ(bound.status, 0) << bound.err;
  EXPECT_NE(bound.out.find("ping: ok"), std::string::npos) << bound.out;

  ok("kill bank m");
  EXPECT_TRUE(server.wait());
  EXPECT_EQ(json("active"), nlohmann::json::array());
  // A registration may name any process; killing the server removes the
  // record and leaves a process that does not hold its connection alone.
  // It blocks SIGTERM, so that one sent to it would wait in its status.
  talvo::testing::ChildProcess bystander(
      "/bin/sleep", {.args = {"30"}, .blocked_signals = {SIGTERM}});
  Result reg = run("register bank " + std::to_string(bystander.pid()));
  EXPECT_EQ(reg.status, 0) << reg.err;
  EXPECT_EQ(reg.out.rfind("PORT", 0), 0u) << reg.out;
  ok("kill bank '*'");
  EXPECT_EQ(run("kill bank '*'").status, 1);  // the record went
  EXPECT_FALSE(bystander.wait(std::chrono::milliseconds(0)));
  const std::string status = talvo::testing::readFile(
      "/proc/" + std::to_string(bystander.pid()) + "/status");
  EXPECT_NE(status.find("ShdPnd:\t0000000000000000\n"), std::string::npos)
      << status;
}

// --- interoperable references -----------------------------------------------

TEST(TalvoctlIorTest, PrintsTheDaemonsReferenceFileTextAndServerObjects) {
  talvo::testing::TempDir out;
  talvo::testing::DaemonUnderTest daemon(
      {.settings = "Interop=yes\nInteropFile=" + out.file("d.ior") + "\n"});
  ASSERT_TRUE(daemon.ready()) << daemon.log();
  std::map<std::string, std::string> env = {
      {"QV_REGISTRY", daemon.dir().file("registry")},
      {"QV_USE_CONFIG_FILE", "no"},
      {"QV_DAEMON_PORT", std::to_string(daemon.port())}};
  auto run = [&](const std::string& args) {
    return talvo::testing::runTalvoctl(args, env, false);
  };

  Result ior = run("ior");
  ASSERT_EQ(ior.status, 0) << ior.err;
  talvo::protocol::IorProfile p;
  ASSERT_EQ(talvo::protocol::parseIor(ior.out.substr(0, ior.out.size() - 1), p),
            nullptr);
  EXPECT_EQ(p.type_id, "IDL:QV_daemon:1.0");
  EXPECT_EQ(p.port, daemon.port());
  EXPECT_EQ(p.major * 10 + p.minor, 10);
  ASSERT_FALSE(p.host.empty());
  const std::string key = talvo::protocol::daemonReference(p.host) + '\0';
  EXPECT_EQ(std::string(p.object_key.begin(), p.object_key.end()), key);

  // An object of a registered server, through the daemon's port.
  EXPECT_EQ(run("create-shared bank -m m1 -c srv").status, 0);
  Result obj = run("ior --server bank --marker m1 --interface Bank::Account");
  ASSERT_EQ(obj.status, 0) << obj.err;
  ASSERT_EQ(talvo::protocol::parseIor(obj.out.substr(0, obj.out.size() - 1), p),
            nullptr);
  EXPECT_EQ(p.type_id, "IDL:Bank::Account:1.0");
  EXPECT_EQ(p.port, daemon.port());
  EXPECT_EQ(std::string(p.object_key.begin(), p.object_key.end()),
            ":\\" + p.host + ":bank:m1::IR:Bank::Account" + '\0');

  // Unknown servers, half-given objects and a missing daemon are refused.
  Result ghost = run("ior --server ghost --interface I");
  EXPECT_EQ(ghost.status, 1);
  EXPECT_NE(ghost.err.find("has no server 'ghost'"), std::string::npos)
      << ghost.err;
  EXPECT_EQ(run("ior --server bank").status, 2);
  EXPECT_EQ(run("ior --server bank:x --interface I").status, 2);

  // The same text as the file the daemon writes when it stops.
  daemon.process().signal(SIGUSR1);
  EXPECT_EQ(daemon.process().exitCode(), 3) << daemon.log();
  EXPECT_EQ(talvo::testing::readFile(out.file("d.ior")) + "\n", ior.out);
  talvo::testing::LoopbackListener held(/*listen=*/false);
  env["QV_DAEMON_PORT"] = std::to_string(held.port());
  Result none = run("ior");
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, "");
  EXPECT_NE(none.err.find("talvoctl ior: cannot reach the daemon"),
            std::string::npos)
      << none.err;
}

}  // namespace
