// The daemon against another ORB: an omniORB client built from the shipped
// IDL (talvo_omni_call) calls every operation of QV_daemon over IIOP and
// gets what the broker protocol gives for the same calls; catior reads the
// daemon's interoperable reference; a reference to an object of a
// registered server, handed to the omniORB client, gets the client
// forwarded to the launched server, also through a ports-list port; and
// both protocols share the daemon's port at once.

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "client/daemon_client.h"
#include "client/daemon_operations.h"
#include "runtime/protocol/object_ref.h"
#include "support/child_process.h"
#include "support/ports.h"
#include "support/talvod.h"
#include "support/talvod_client.h"

namespace talvo::testing {
namespace {

using protocol::TypeDesc;
using protocol::TypeKind;
using protocol::Value;

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> out;
  std::stringstream in(text);
  for (std::string item; std::getline(in, item, separator);) {
    out.push_back(item);
  }
  if (!text.empty() && text.back() == separator) out.emplace_back();
  return out;
}

std::string userName() {
  const passwd* pw = ::getpwuid(::geteuid());
  return pw != nullptr ? pw->pw_name : "";
}

// An argument word as a value of `type`.
Value valueOf(const std::string& word, const TypeDesc& type) {
  switch (type.kind) {
    case TypeKind::kString:
      return Value::ofString(word);
    case TypeKind::kBoolean:
      return Value::ofBool(word == "true" || word == "1");
    case TypeKind::kOctet:
      return Value::ofOctet(std::uint8_t(std::stoul(word)));
    case TypeKind::kLong:
      return Value::ofLong(std::stol(word));
    case TypeKind::kULong:
      return Value::ofULong(std::stoul(word));
    default:  // a list of strings
      return Value::ofStrings(word.empty() ? std::vector<std::string>{}
                                           : split(word, ','));
  }
}

// A reply value printed as the omniORB client prints it.
std::string printed(const Value& v, const TypeDesc& type) {
  switch (type.kind) {
    case TypeKind::kString:
      return v.text();
    case TypeKind::kBoolean:
      return v.as<bool>() ? "true" : "false";
    case TypeKind::kLong:
      return std::to_string(v.as<std::int32_t>());
    case TypeKind::kULong:
    case TypeKind::kEnum:
      return std::to_string(v.as<std::uint32_t>());
    default: {
      const bool record = type.kind == TypeKind::kStruct;
      std::string out = record ? "{" : "[";
      const auto& items = v.as<Value::List>();
      for (std::size_t i = 0; i < items.size(); ++i) {
        out += (i ? "," : "") + printed(items[i], record ? type.members[i].type
                                                         : type.element());
      }
      return out + (record ? "}" : "]");
    }
  }
}

// The script's calls over the broker protocol, printed line by line.
std::string brokerRun(client::DaemonClient& daemon, const std::string& script) {
  std::string out;
  for (const std::string& line : split(script, '\n')) {
    if (line.empty()) continue;
    std::vector<std::string> words = split(line, '|');
    words.resize(16);
    auto op = client::findDaemonOperation(words[0]);
    if (!op) return "unknown operation " + words[0];
    const protocol::Signature& sig = client::daemonSignature(*op);
    std::vector<Value> ins;
    for (const auto& p : sig.parameters) {
      if (p.sent()) ins.push_back(valueOf(words[ins.size() + 1], p.type));
    }
    CallReply reply;
    std::string result;
    if (Status st = daemon.invoke(*op, std::move(ins), reply)) {
      result = "!" + st->bareName() + " " + std::to_string(st->minor()) + " " +
               CORBA::completionStatusName(st->completed());
    } else {
      if (sig.result.kind != TypeKind::kVoid) {
        result = printed(reply.result, sig.result) + "|";
      }
      for (std::size_t i = 0; i < sig.parameters.size(); ++i) {
        if (sig.parameters[i].returned()) {
          result += printed(reply.args[i], sig.parameters[i].type) + "|";
        }
      }
      if (!result.empty()) result.pop_back();
    }
    out += words[0] + ": " + result + "\n";
  }
  return out;
}

// A corbaloc address of the object whose string reference is `ref` (the
// object key is the reference with its final NUL).
std::string corbaloc(std::uint16_t port, const std::string& ref) {
  std::string out = "corbaloc::127.0.0.1:" + std::to_string(port) + "/";
  for (char c : ref + '\0') {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%%%02x", static_cast<unsigned char>(c));
    out += std::isalnum(static_cast<unsigned char>(c)) ? std::string(1, c)
                                                       : std::string(hex);
  }
  return out;
}

const std::string kOmniCall = "examples/omniorb/talvo_omni_call";

// The omniORB client with `args`, claiming this process's user as the
// principal, as the broker protocol's binding message does.
RunResult omniCall(std::vector<std::string> args) {
  return runToEnd(
      builtProgram(kOmniCall),
      {.args = std::move(args), .env = {{"ORBprincipal", userName()}}});
}

// The first line talvoctl prints for `args` ("" when it fails).
std::string talvoctl(std::vector<std::string> args) {
  RunResult r = runToEnd(builtProgram("tools/talvoctl/talvoctl"),
                         {.args = std::move(args)});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  return r.status == 0 ? r.out.substr(0, r.out.find('\n')) : "";
}

// Registers the sample server as "greeter", serving every marker.
void registerGreeter(std::uint16_t port) {
  TalvodClient client(port);
  ASSERT_EQ(client.newSharedServer(
                "greeter", client::Strings{"*"},
                client::Strings{builtProgram("examples/talvo_sample_server") +
                                " --marker hello"},
                0u),
            nullptr);
}

// False while the daemon at `port` refuses IIOP connections outright (a
// build without the IIOP side), which skips the tests instead of failing.
bool speaksIiop(std::uint16_t port) {
  std::string out =
      omniCall({corbaloc(port, protocol::daemonReference("127.0.0.1")),
                "serverExists", "x"})
          .out;
  return out.find("!TRANSIENT") == std::string::npos &&
         out.find("!COMM_FAILURE") == std::string::npos;
}

class OmniorbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(daemon_.ready()) << daemon_.log();
    if (!speaksIiop(daemon_.port())) GTEST_SKIP() << "no IIOP in this build";
  }
  std::string port() const { return std::to_string(daemon_.port()); }
  std::string daemonLoc() const {
    return corbaloc(daemon_.port(), protocol::daemonReference("127.0.0.1"));
  }

  DaemonUnderTest daemon_;
};

TEST_F(OmniorbTest, EveryOperationGivesWhatTheBrokerProtocolGives) {
  // Calls as "operation|argument|..."; lists separated by ",". Every
  // operation of the interface appears; failures are compared too.
  const std::string path = sourceFile("tests/interop/daemon_calls.txt");
  const std::string script = "\n" + readFile(path);
  for (const auto& op : client::daemonOperations()) {
    const std::string call = "\n" + std::string(op.name);
    EXPECT_TRUE(script.find(call + "|") != std::string::npos ||
                script.find(call + "\n") != std::string::npos)
        << op.name << " is not called";
  }
  RunResult omni = omniCall({daemonLoc(), "--script", path});
  ASSERT_EQ(omni.status, 0) << omni.out << omni.err;

  DaemonUnderTest twin;  // the same calls on a fresh repository
  ASSERT_TRUE(twin.ready()) << twin.log();
  TalvodClient broker(twin.port());
  EXPECT_EQ(omni.out, brokerRun(broker, script));
}

TEST_F(OmniorbTest, CatiorReadsTheDaemonsReference) {
  std::string ior = talvoctl({"ior", "--port", port()});
  ASSERT_EQ(ior.rfind("IOR:", 0), 0u) << ior;
  RunResult cat = runToEnd("/usr/bin/catior", {.args = {ior}});
  ASSERT_EQ(cat.status, 0) << cat.out << cat.err;
  for (const std::string& part :
       std::vector<std::string>{"\"IDL:QV_daemon:1.0\"", "IIOP 1.0 ",
                                " " + port(), "QV_daemon:::IR:QV_daemon"}) {
    EXPECT_NE(cat.out.find(part), std::string::npos) << part << cat.out;
  }
  EXPECT_EQ(cat.out.find("IIOP"), cat.out.rfind("IIOP")) << "one profile";
  // The same text reaches the daemon from the other ORB.
  EXPECT_EQ(omniCall({ior, "serverExists", "nosuch"}).out,
            "serverExists: false\n");
}

TEST_F(OmniorbTest, ServerReferenceForwardsToTheLaunchedServer) {
  registerGreeter(daemon_.port());
  std::string ior = talvoctl({"ior", "--port", port(), "--server", "greeter",
                              "--marker", "hello", "--interface", "Greeter"});
  RunResult greet = omniCall({ior, "--greet", "Ada"});
  if (greet.out.rfind("!OBJECT_NOT_EXIST", 0) == 0) {
    GTEST_SKIP() << "this daemon does not forward IIOP requests yet";
  }
  EXPECT_EQ(
      greet.out.rfind("Hello, Ada! This is server greeter (marker 'hello'", 0),
      0u)
      << greet.out << greet.err << daemon_.log();
  // The running server as both protocols list it (serverDetails and its
  // enum on the wire).
  TalvodClient broker(daemon_.port());
  const std::string calls =
      "getIIOPDetails|greeter|hello|\nlistActiveServers\n";
  std::string listed = brokerRun(broker, calls);
  EXPECT_NE(listed.find("{greeter,*,"), std::string::npos) << listed;
  EXPECT_EQ(
      omniCall({daemonLoc(), "--script", daemon_.dir().write("calls", calls)})
          .out,
      listed);
}

TEST(OmniorbPortsListTest, PortsListPortAnswersForItsServer) {
  // The last port of this test's own range; the daemon's servers take the
  // others.
  const int base = 20000 + static_cast<int>(::getpid() % 2000) * 20;
  const std::map<std::string, std::string> range = {
      {"QV_DAEMON_SERVER_BASE", std::to_string(base)},
      {"QV_DAEMON_SERVER_RANGE", "19"}};
  DaemonUnderTest first({.env = range});
  ASSERT_TRUE(first.ready()) << first.log();
  if (!speaksIiop(first.port())) GTEST_SKIP() << "no IIOP in this build";
  registerGreeter(first.port());
  // The list is read at start-up: a second daemon on the same repository.
  first.dir().write("imprep/portsList",
                    "nosuch 1\ngreeter " + std::to_string(base + 19) + "\n");
  first.process().stop(SIGUSR1);
  Talvod daemon(first.dir(), {"-f"}, range);
  ASSERT_NE(daemon.port(), 0) << daemon.output() << daemon.errors();
  if (!eventually([&] { return acceptsConnections(base + 19); })) {
    GTEST_SKIP() << "this daemon does not open ports-list listeners yet";
  }
  RunResult greet =
      omniCall({corbaloc(base + 19, ":\\127.0.0.1:greeter:hello::IR:Greeter"),
                "--greet", "Bo"});
  EXPECT_EQ(greet.out.rfind("Hello, Bo! This is server greeter", 0), 0u)
      << greet.out << greet.err << daemon.output();
}

TEST_F(OmniorbTest, BothProtocolsShareThePortAtOnce) {
  TalvodClient broker(daemon_.port());
  bool exists = true;
  ASSERT_EQ(broker.serverExists("nosuch", &exists), nullptr);
  std::string calls, answers;
  for (int i = 0; i < 200; ++i) {
    calls += "serverExists|nosuch\n";
    answers += "serverExists: false\n";
  }
  ChildProcess omni(
      builtProgram(kOmniCall),
      {.args = {daemonLoc(), "--script", daemon_.dir().write("calls", calls)},
       .env = {{"ORBprincipal", userName()}},
       .output_dir = daemon_.dir().path()});
  int broker_calls = 0;
  for (; !omni.wait(std::chrono::milliseconds(0)); ++broker_calls) {
    ASSERT_EQ(broker.serverExists("nosuch", &exists), nullptr);
  }
  EXPECT_EQ(omni.exitCode(), 0) << omni.errors();
  EXPECT_EQ(omni.output(), answers);
  EXPECT_GT(broker_calls, 0);
}

}  // namespace
}  // namespace talvo::testing
