// The report talvo_launch_probe writes about itself, for tests that start
// real processes.

#ifndef TALVO_TESTS_ACTIVATION_PROBE_SUPPORT_H_
#define TALVO_TESTS_ACTIVATION_PROBE_SUPPORT_H_

#include <sys/types.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace talvo::testing {

// What a probe process reported about itself.
struct ProbeReport {
  std::map<std::string, std::string> env;
  std::set<int> fds;
  pid_t pid = 0;
  bool has(const std::string& name) const { return env.count(name) != 0; }
};

// Waits (at most `timeout`) for the probe's report file and reads it.
inline std::optional<ProbeReport> waitForReport(
    const std::string& path,
    std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  if (!eventually([&] { return std::filesystem::exists(path); }, timeout)) {
    return std::nullopt;
  }
  ProbeReport report;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("env ", 0) == 0) {
      std::string entry = line.substr(4);
      auto eq = entry.find('=');
      report.env[entry.substr(0, eq)] =
          eq == std::string::npos ? "" : entry.substr(eq + 1);
    } else if (line.rfind("fd ", 0) == 0) {
      report.fds.insert(std::atoi(line.c_str() + 3));
    } else if (line.rfind("pid ", 0) == 0) {
      report.pid = std::atoi(line.c_str() + 4);
    }
  }
  return report;
}

}  // namespace talvo::testing

#endif  // TALVO_TESTS_ACTIVATION_PROBE_SUPPORT_H_
