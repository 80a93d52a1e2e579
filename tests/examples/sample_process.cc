#include "sample_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "greeter.h"

namespace talvo::examples::testing {
namespace {

int nextOutputNumber() {
  static std::atomic<int> n{0};
  return ++n;
}

}  // namespace

std::uint16_t freePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  std::uint16_t port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port = ntohs(addr.sin_port);
  }
  close(fd);
  return port;
}

std::map<std::string, std::string> isolatedEnvironment(const std::string& dir) {
  return {{"HOME", dir},
          {"QV_CONFIG_PATH", dir + "/absent.cfg"},
          {"QV_REGISTRY", dir + "/absent-registry"}};
}

ChildProcess::ChildProcess(const std::string& dir, const std::string& program,
                           const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& env)
    : out_path_(dir + "/stdout." + std::to_string(nextOutputNumber())),
      err_path_(out_path_ + ".err") {
  std::vector<std::string> argv_text{program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<std::string> env_text;
  if (const char* path = std::getenv("PATH")) {
    env_text.push_back(std::string("PATH=") + path);
  }
  for (const auto& [name, value] : env) env_text.push_back(name + "=" + value);
  std::vector<char*> argv, envp;
  for (auto& a : argv_text) argv.push_back(a.data());
  for (auto& e : env_text) envp.push_back(e.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_path_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_path_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(),
                  envp.data()) != 0) {
    pid_ = -1;
    ADD_FAILURE() << "cannot start " << program;
  }
  posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
  if (pid_ <= 0 || reaped_) return;
  if (!stop(SIGTERM, std::chrono::seconds(5))) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool ChildProcess::waitForOutput(const std::string& text,
                                 std::chrono::milliseconds limit) {
  auto until = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < until) {
    if (output().find(text) != std::string::npos) return true;
    if (reaped_ || waitpid(pid_, nullptr, WNOHANG) != 0) {
      return output().find(text) != std::string::npos;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::optional<std::string> ChildProcess::announcedPort() {
  if (!waitForOutput(" on port ")) return std::nullopt;
  std::string out = output();
  auto at = out.find(" on port ") + 9;
  auto end = out.find('\n', at);
  return out.substr(at, end == std::string::npos ? end : end - at);
}

std::optional<int> ChildProcess::stop(int signal_number,
                                      std::chrono::milliseconds limit) {
  if (pid_ <= 0 || reaped_) return std::nullopt;
  kill(pid_, signal_number);
  return wait(limit);
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds limit) {
  if (pid_ <= 0 || reaped_) return std::nullopt;
  auto until = std::chrono::steady_clock::now() + limit;
  do {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      reaped_ = true;
      return status;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (std::chrono::steady_clock::now() < until);
  return std::nullopt;
}

std::string ChildProcess::output() const {
  return talvo::testing::readFile(out_path_);
}
std::string ChildProcess::errors() const {
  return talvo::testing::readFile(err_path_);
}

OrbOptions testOrbOptions(QuietContext& context, MapConfig& config) {
  OrbOptions options;
  options.context = &context;
  options.config = &config.get();
  options.reply_timeout_ms = 10000;
  return options;
}

OrbThread::OrbThread()
    : orb_(std::make_unique<Orb>(testOrbOptions(context_, config_))) {}

OrbThread::~OrbThread() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void OrbThread::start() {
  thread_ = std::thread([this] {
    while (!stop_) {
      orb_->runOnce(20);
      channels = orb_->loop().channelCount();
    }
  });
}

Target greeterAt(const std::string& port, const std::string& marker) {
  Target t;
  t.host = "127.0.0.1";
  t.port = port;
  t.ref =
      protocol::ObjectRef("127.0.0.1", "", marker, "", "IR", kGreeterInterface);
  return t;
}

}  // namespace talvo::examples::testing
