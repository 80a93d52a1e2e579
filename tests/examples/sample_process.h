// Test helpers for the sample programs: a child process of the sample
// server with an environment of the test's choosing (its output captured in
// files of the folder, ended and reaped when the helper goes), and a server
// Orb on its own thread; the shared helpers (tests/support) under the names
// these tests use.

#ifndef TALVO_TESTS_EXAMPLES_SAMPLE_PROCESS_H_
#define TALVO_TESTS_EXAMPLES_SAMPLE_PROCESS_H_

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "runtime/config/config_chain.h"
#include "runtime/config/runtime_config.h"
#include "runtime/orb/orb.h"
#include "runtime/transport/transport_context.h"
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
  std::optional<std::string> announcedPort();

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
std::map<std::string, std::string> isolatedEnvironment(const std::string& dir);

// Options for a test Orb over `context` and `config`.
OrbOptions testOrbOptions(QuietContext& context, MapConfig& config);

// An Orb whose loop runs on its own thread between start() and the
// destructor; configure it (serve, listen) before start(). `channels`
// follows the loop's open channel count.
class OrbThread {
 public:
  OrbThread();
  ~OrbThread();
  void start();
  Orb& orb() { return *orb_; }
  std::atomic<std::size_t> channels{0};

 private:
  QuietContext context_;
  MapConfig config_;
  std::unique_ptr<Orb> orb_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The Greeter object `marker` of a server at 127.0.0.1:`port`.
Target greeterAt(const std::string& port, const std::string& marker);

}  // namespace talvo::examples::testing

#endif  // TALVO_TESTS_EXAMPLES_SAMPLE_PROCESS_H_
