// A daemon object on a fresh temporary repository, served by a broker run
// time on a loopback port from a thread of the test. Stopped and removed
// (thread joined, folder deleted) when the object goes away.
#ifndef TALVO_TESTS_TOOLS_TALVOCTL_LOOPBACK_DAEMON_H_
#define TALVO_TESTS_TOOLS_TALVOCTL_LOOPBACK_DAEMON_H_

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "activation/port_allocator.h"
#include "activation/posix_activator.h"
#include "client/daemon_operations.h"
#include "interface/daemon.h"
#include "interface/daemon_dispatch.h"
#include "interface/daemon_filter.h"
#include "runtime/orb/orb.h"
#include "support/config_support.h"
#include "support/temp_dir.h"
#include "support/transport_context.h"

namespace talvo::testing {

// The run time as the activator sees it: every server of `alive_pid` has an
// open channel from that process, and every object answers a ping.
class FakeActivationRuntime : public ActivationRuntime {
 public:
  std::string localHostName() override { return "localhost"; }
  std::optional<std::int32_t> channelProcessId(const std::string&,
                                               const std::string&,
                                               const std::string&) override {
    if (alive_pid == 0) return std::nullopt;
    return alive_pid;
  }
  // The process of `alive_pid` holds the channels it stands for.
  bool channelHeldBy(const std::string&, const std::string&,
                     std::int32_t pid) override {
    return alive_pid != 0 && pid == alive_pid;
  }
  Status pingObject(const std::string&, const std::string&,
                    const std::string&) override {
    return nullptr;
  }
  std::optional<std::string> iiopPort() override { return std::nullopt; }

  std::atomic<std::int32_t> alive_pid{0};
};

// Serves `marker` (answering "_QV_PING") on a port from a thread.
class PingServer {
 public:
  PingServer(const std::string& port, const std::string& marker) {
    OrbOptions o;
    o.context = &context_;
    o.config = &config_.get();
    orb_ = std::make_unique<Orb>(o);
    orb_->serve(marker, std::make_shared<protocol::Interface>("Sample"));
    if (orb_->listen(port) != nullptr) throw std::runtime_error("listen");
    thread_ = std::thread([this] {
      while (!stop_) orb_->runOnce(20);
    });
  }
  ~PingServer() {
    stop_ = true;
    thread_.join();
  }

 private:
  TestConfig config_;
  QuietContext context_;
  std::unique_ptr<Orb> orb_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class LoopbackDaemon {
 public:
  // With `activation`, the binding and activation operations run over an
  // activator on FakeActivationRuntime and an allocator of `port_range`
  // ports from `port_base`.
  explicit LoopbackDaemon(bool activation = false, std::uint16_t port_base = 0,
                          int port_range = 1) {
    std::filesystem::create_directory(base() + "/rep");
    interface::DaemonOptions o;
    o.config = &config_.get();
    o.out = &out_;
    o.err = &err_;
    if (activation) {
      activator_ = std::make_unique<PosixActivator>(runtime_);
      const std::string base = std::to_string(port_base);
      const std::string range = std::to_string(port_range);
      ports_ = std::make_unique<PortAllocator>(base.c_str(), range.c_str());
      o.activator = activator_.get();
      o.ports = ports_.get();
    }
    const std::string root = base() + "/rep";
    if (interface::Daemon::create(root.c_str(), o, &daemon_) != nullptr) {
      throw std::runtime_error("daemon");
    }
    OrbOptions so;
    so.context = &context_;
    so.config = &config_.get();
    orb_ = std::make_unique<Orb>(so);
    orb_->serve("", interface::makeDaemonInterface(*daemon_));
    orb_->dispatcher().filters().add(
        std::make_shared<interface::DaemonFilter>(daemon_.get()));
    if (orb_->listen("0", &port_) != nullptr) {
      throw std::runtime_error("listen");
    }
    thread_ = std::thread([this] {
      while (!stop_) orb_->runOnce(20);
    });
  }
  ~LoopbackDaemon() {
    stop_ = true;
    thread_.join();
    orb_.reset();
    daemon_.reset();
  }
  LoopbackDaemon(const LoopbackDaemon&) = delete;
  LoopbackDaemon& operator=(const LoopbackDaemon&) = delete;

  std::uint16_t port() const { return port_; }
  // The folder of the test (the repository is its "rep").
  const std::string& base() const { return dir_.path(); }
  FakeActivationRuntime& runtime() { return runtime_; }
  // The daemon object at the loopback port.
  Target target() const {
    Target t;
    t.host = "127.0.0.1";
    t.port = std::to_string(port_);
    t.ref = protocol::ObjectRef("localhost", "QV_daemon", "", "", "IR",
                                std::string(client::kDaemonInterfaceName));
    return t;
  }

 private:
  TempDir dir_;
  TestConfig config_{
      {{"QV_DAEMON_PORT", "7591"}, {"QV_LOCATOR_PATH", dir_.path()}}};
  std::ostringstream out_, err_;
  QuietContext context_;
  FakeActivationRuntime runtime_;
  std::unique_ptr<Activator> activator_;
  std::unique_ptr<PortAllocator> ports_;
  std::unique_ptr<interface::Daemon> daemon_;
  std::unique_ptr<Orb> orb_;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace talvo::testing

#endif  // TALVO_TESTS_TOOLS_TALVOCTL_LOOPBACK_DAEMON_H_
