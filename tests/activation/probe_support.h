// Test support for tests that start real processes: a temporary folder
// removed afterwards, and the report written by talvo_launch_probe.

#ifndef TALVO_TESTS_ACTIVATION_PROBE_SUPPORT_H_
#define TALVO_TESTS_ACTIVATION_PROBE_SUPPORT_H_

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>

namespace talvo::testing {

// A fresh folder from mkdtemp, removed with its content on destruction.
class TempDir {
 public:
  TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "talvo-act-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

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
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!std::filesystem::exists(path)) {
    if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
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

// Polls `condition` until it holds or `timeout` passes.
template <class F>
bool eventually(F condition,
                std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// True when no process (not even a zombie) with this id exists any more.
inline bool processGone(pid_t pid) {
  return !std::filesystem::exists("/proc/" + std::to_string(pid));
}

}  // namespace talvo::testing

#endif  // TALVO_TESTS_ACTIVATION_PROBE_SUPPORT_H_
