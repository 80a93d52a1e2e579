#include "support/talvod.h"

#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "support/wait.h"

namespace talvo::testing {

std::string talvodPath() { return builtProgram("src/daemon/talvod"); }

std::string sourceFile(const std::string& relative) {
  return std::string(TALVO_SOURCE_DIR) + "/" + relative;
}

std::uint16_t listeningPort(pid_t pid) {
  const std::string proc = "/proc/" + std::to_string(pid);
  std::set<std::string> inodes;
  std::error_code ec;
  for (const auto& fd : std::filesystem::directory_iterator(proc + "/fd", ec)) {
    std::string link = std::filesystem::read_symlink(fd.path(), ec).string();
    if (link.rfind("socket:[", 0) == 0) {
      inodes.insert(link.substr(8, link.size() - 9));
    }
  }
  std::istringstream table(readFile(proc + "/net/tcp"));
  std::string line, skip, local, state, inode;
  std::getline(table, line);  // heading
  while (std::getline(table, line)) {
    std::istringstream in(line);
    in >> skip >> local >> skip >> state;
    for (int i = 0; i < 6; ++i) in >> inode;  // queues .. timeout, inode
    if (state == "0A" && inodes.count(inode) != 0) {
      return static_cast<std::uint16_t>(
          std::stoul(local.substr(local.find(':') + 1), nullptr, 16));
    }
  }
  return 0;
}

long contextSwitches(pid_t pid) {
  long total = 0;
  std::error_code ec;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  for (const auto& task : std::filesystem::directory_iterator(tasks, ec)) {
    std::istringstream status(readFile(task.path().string() + "/status"));
    for (std::string line; std::getline(status, line);) {
      if (line.find("ctxt_switches:") != std::string::npos) {
        total += std::atol(line.c_str() + line.find(':') + 1);
      }
    }
  }
  return total;
}

std::string daemonRegistry(const std::string& body) {
  return "# test settings\n[SOFTWARE\\Brevan "
         "Technologies\\Talvo\\2.3c\\Daemon]\n" +
         body;
}

namespace {

ChildOptions talvodOptions(const TempDir& dir, std::vector<std::string> args,
                           std::map<std::string, std::string> extra,
                           bool usr1_pending_at_start) {
  std::filesystem::create_directories(dir.file("imprep"));
  ChildOptions o;
  o.args = std::move(args);
  o.inherit_env = false;
  o.env = {{"QV_REGISTRY", dir.file("registry")},
           {"QV_SERVICE_DIR", dir.path()},
           {"QV_IMP_REP_PATH", dir.file("imprep")},
           {"QV_USE_CONFIG_FILE", "no"},
           {"QV_ERRORS", sourceFile("etc/Talvo.err")},
           {"QV_LOCATOR_PATH", dir.path()},
           {"QV_DAEMON_PORT", "0"}};
  for (auto& [name, value] : extra) o.env[name] = value;
  o.output_dir = dir.path();
  if (usr1_pending_at_start) o.blocked_signals = {SIGUSR1};
  return o;
}

}  // namespace

Talvod::Talvod(const TempDir& dir, std::vector<std::string> args,
               std::map<std::string, std::string> extra,
               bool usr1_pending_at_start, const std::string& program)
    : ChildProcess(program,
                   talvodOptions(dir, std::move(args), std::move(extra),
                                 usr1_pending_at_start)) {}

Talvod::~Talvod() {
  if (started() && !wait(std::chrono::milliseconds(0))) {
    for (pid_t server : childrenOf(pid())) ::kill(server, SIGKILL);
  }
}

std::uint16_t Talvod::port() {
  std::uint16_t found = 0;
  eventually([&] {
    if (wait(std::chrono::milliseconds(0))) return true;
    return (found = listeningPort(pid())) != 0;
  });
  return found;
}

TempDir& DaemonUnderTest::prepared(TempDir& dir, const DaemonSetup& setup) {
  dir.write("registry", daemonRegistry(setup.settings));
  return dir;
}

DaemonUnderTest::DaemonUnderTest(const DaemonSetup& setup)
    : talvod_(
          prepared(dir_, setup), setup.args,
          [&] {
            auto env = setup.env;
            const int base = 20000 + static_cast<int>(::getpid() % 2000) * 20;
            env.emplace("QV_DAEMON_SERVER_BASE", std::to_string(base));
            env.emplace("QV_DAEMON_SERVER_RANGE", "20");
            return env;
          }(),
          false, setup.program) {}

}  // namespace talvo::testing
