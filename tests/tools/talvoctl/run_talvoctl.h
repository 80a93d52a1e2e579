// Running the built talvoctl from a test: a command line of shell words
// with exactly the environment given (and PATH), its exit status and output
// collected.
//
// Threading: none.

#ifndef TALVO_TESTS_TOOLS_TALVOCTL_RUN_TALVOCTL_H_
#define TALVO_TESTS_TOOLS_TALVOCTL_RUN_TALVOCTL_H_

#include <map>
#include <string>

#include "support/child_process.h"

namespace talvo::testing {

// Standard error is in `out` when joined.
using TalvoctlResult = RunResult;

// Runs talvoctl `args` (shell words); with `joined`, standard error goes
// to standard output.
inline TalvoctlResult runTalvoctl(const std::string& args,
                                  const std::map<std::string, std::string>& env,
                                  bool joined = true) {
  return runToEnd(
      "/bin/sh",
      {.args = {"-c", "exec \"$0\" " + args + (joined ? " 2>&1" : ""),
                builtProgram("tools/talvoctl/talvoctl")},
       .env = env,
       .inherit_env = false});
}

}  // namespace talvo::testing

#endif  // TALVO_TESTS_TOOLS_TALVOCTL_RUN_TALVOCTL_H_
