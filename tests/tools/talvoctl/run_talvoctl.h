// Running the built talvoctl from a test: a command line of shell words
// with exactly the environment given (`env -i`), its exit status and
// output collected.
//
// Threading: none.

#ifndef TALVO_TESTS_TOOLS_TALVOCTL_RUN_TALVOCTL_H_
#define TALVO_TESTS_TOOLS_TALVOCTL_RUN_TALVOCTL_H_

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

namespace talvo::testing {

struct TalvoctlResult {
  int status = -1;
  std::string out;  // standard output (and error, without `err_file`)
  std::string err;  // standard error, with `err_file`
};

inline std::string shellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs talvoctl `args`; standard error goes through `err_file` when one is
// given (removed afterwards), else joins standard output.
inline TalvoctlResult runTalvoctl(const std::string& args,
                                  const std::map<std::string, std::string>& env,
                                  const std::string& err_file = "") {
  const char* root = std::getenv("TALVO_TEST_BIN");
  std::string cmd = "env -i";
  for (const auto& [k, v] : env) cmd += " " + shellQuote(k + "=" + v);
  cmd +=
      " " +
      shellQuote(std::string(root ? root : ".") + "/tools/talvoctl/talvoctl") +
      " " + args + (err_file.empty() ? " 2>&1" : " 2>" + shellQuote(err_file));
  TalvoctlResult r;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  if (!err_file.empty()) {
    std::ifstream in(err_file);
    r.err.assign(std::istreambuf_iterator<char>(in), {});
    std::remove(err_file.c_str());
  }
  return r;
}

}  // namespace talvo::testing

#endif  // TALVO_TESTS_TOOLS_TALVOCTL_RUN_TALVOCTL_H_
