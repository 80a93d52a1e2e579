// Test helpers for the sample programs: a child process with an
// environment of the test's choosing (its output captured in files of the
// folder, ended and reaped when the helper goes), a client Orb's options and
// the Greeter object's address; the shared helpers (tests/support) under
// the names these tests use.
//
// Threading: none; each helper belongs to the test's thread.

#ifndef TALVO_TESTS_EXAMPLES_SAMPLE_PROCESS_H_
#define TALVO_TESTS_EXAMPLES_SAMPLE_PROCESS_H_

#include <signal.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "greeter.h"
#include "runtime/orb/orb.h"
#include "support/child_process.h"
#include "support/config_support.h"
#include "support/temp_dir.h"
#include "support/transport_context.h"

namespace talvo::examples::testing {

using talvo::testing::builtProgram;
using talvo::testing::QuietContext;
using talvo::testing::TempDir;
// A RuntimeConfig answering only from its values.
using MapConfig = talvo::testing::TestConfig;

// A child process started with exactly `env` (plus PATH) and `args`; its
// standard output and error go to files in `dir`. The destructor ends it
// (SIGTERM, then SIGKILL) and reaps it.
class ChildProcess : public talvo::testing::ChildProcess {
 public:
  ChildProcess(const std::string& dir, const std::string& program,
               const std::vector<std::string>& args,
               const std::map<std::string, std::string>& env)
      : talvo::testing::ChildProcess(program, options(dir, args, env)) {}

  // The port of the line "... on port N" the sample server prints.
  std::optional<std::string> announcedPort() {
    if (!waitForOutput(" on port ")) return std::nullopt;
    std::string out = output();
    auto at = out.find(" on port ") + 9;
    return out.substr(at, out.find('\n', at) - at);
  }

 private:
  static talvo::testing::ChildOptions options(
      const std::string& dir, const std::vector<std::string>& args,
      const std::map<std::string, std::string>& env) {
    talvo::testing::ChildOptions o;
    o.args = args;
    o.env = env;
    o.inherit_env = false;
    o.output_dir = dir;
    o.end_signal = SIGTERM;
    return o;
  }
};

// The environment every child gets: configuration file and settings store
// pointed into `dir` (where they do not exist), HOME set to it.
inline std::map<std::string, std::string> isolatedEnvironment(
    const std::string& dir) {
  return {{"HOME", dir},
          {"QV_CONFIG_PATH", dir + "/absent.cfg"},
          {"QV_REGISTRY", dir + "/absent-registry"}};
}

// Options for a test Orb over `context` and `config`.
inline OrbOptions testOrbOptions(QuietContext& context, MapConfig& config) {
  OrbOptions options;
  options.context = &context;
  options.config = &config.get();
  options.reply_timeout_ms = 10000;
  return options;
}

// The Greeter object `marker` of a server at 127.0.0.1:`port`.
inline Target greeterAt(const std::string& port, const std::string& marker) {
  Target t;
  t.host = "127.0.0.1";
  t.port = port;
  t.ref =
      protocol::ObjectRef("127.0.0.1", "", marker, "", "IR", kGreeterInterface);
  return t;
}

}  // namespace talvo::examples::testing

#endif  // TALVO_TESTS_EXAMPLES_SAMPLE_PROCESS_H_
