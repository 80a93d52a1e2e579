#include "sample_process.h"

#include <gtest/gtest.h>
#include <signal.h>

#include "greeter.h"

namespace talvo::examples::testing {

std::map<std::string, std::string> isolatedEnvironment(const std::string& dir) {
  return {{"HOME", dir},
          {"QV_CONFIG_PATH", dir + "/absent.cfg"},
          {"QV_REGISTRY", dir + "/absent-registry"}};
}

std::optional<std::string> ChildProcess::announcedPort() {
  if (!waitForOutput(" on port ")) return std::nullopt;
  std::string out = output();
  auto at = out.find(" on port ") + 9;
  auto end = out.find('\n', at);
  return out.substr(at, end == std::string::npos ? end : end - at);
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
