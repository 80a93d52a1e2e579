// The locator measured in-process over loopback:
//   - a lookUp answered from this host's file of 100 and of 100,000
//     services, beside a serverExists round trip to the same daemon;
//   - reloading that file after it changed (the reading locator);
//   - a lookUp passed on over one hop, beside two plain round trips.
// Daemons are served by Orbs on threads of their own; the client calls
// through the client stubs.
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "client/daemon_client.h"
#include "interface/daemon.h"
#include "interface/daemon_dispatch.h"
#include "locator/locator_service.h"
#include "platform/files.h"
#include "runtime/orb/orb.h"
#include "support/config_support.h"
#include "support/temp_dir.h"
#include "support/transport_context.h"

namespace talvo::testing {
namespace {

std::string hostFile(int services) {
  std::string text = "QV_daemon:127.0.0.1:\n";
  for (int i = 0; i < services; ++i) {
    text += "svc" + std::to_string(i) + ":h1,h2,h3:\n";
  }
  return text;
}

// A daemon object served on a loopback port from a thread. `next_port`
// is the port it passes unanswered questions on to (QV_DAEMON_PORT).
class ServedDaemon {
 public:
  ServedDaemon(const std::string& host_file, const std::string& next_port)
      : config_(
            {{"QV_DAEMON_PORT", next_port}, {"QV_LOCATOR_PATH", dir_.path()}}) {
    dir_.write("Talvo.hst", host_file);
    OrbOptions so;
    so.context = &context_;
    so.config = &config_.get();
    orb_ = std::make_unique<Orb>(so);
    interface::DaemonOptions o;
    o.config = &config_.get();
    o.out = &out_;
    o.err = &out_;
    o.orb = orb_.get();
    std::filesystem::create_directory(dir_.file("rep"));
    interface::Daemon::create(dir_.file("rep").c_str(), o, &daemon_);
    config_.get().setDiagnosticsLevel(0);
    orb_->serve("", interface::makeDaemonInterface(*daemon_));
    orb_->listen("0", &port_);
    thread_ = std::thread([this] {
      while (!stop_) orb_->runOnce(20);
    });
  }
  ~ServedDaemon() {
    stop_ = true;
    thread_.join();
    daemon_.reset();
    orb_.reset();
  }
  std::string port() const { return std::to_string(port_); }
  const TempDir& dir() const { return dir_; }

 private:
  TempDir dir_;
  TestConfig config_;
  std::ostringstream out_;
  QuietContext context_;
  std::unique_ptr<Orb> orb_;
  std::unique_ptr<interface::Daemon> daemon_;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A client of the daemon at `port`.
struct Client {
  explicit Client(const std::string& port) {
    OrbOptions o;
    o.context = &context;
    o.config = &config.get();
    orb = std::make_unique<Orb>(o);
    Target t;
    t.host = "127.0.0.1";
    t.port = port;
    t.ref = protocol::ObjectRef("localhost", "QV_daemon", "", "", "IR",
                                std::string(client::kDaemonInterfaceName));
    stub = std::make_unique<client::DaemonClient>(*orb, t);
  }
  TestConfig config;
  QuietContext context;
  std::unique_ptr<Orb> orb;
  std::unique_ptr<client::DaemonClient> stub;
};

void BM_ServerExists(benchmark::State& state) {
  ServedDaemon d(hostFile(100), "1");
  Client c(d.port());
  bool exists = false;
  for (auto _ : state) {
    if (c.stub->serverExists("bank", &exists)) state.SkipWithError("call");
  }
}
BENCHMARK(BM_ServerExists);

void BM_LookUpLocal(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  ServedDaemon d(hostFile(n), "1");
  Client c(d.port());
  const std::string service = "svc" + std::to_string(n / 2);
  std::vector<std::string> hosts;
  bool ok = false;
  for (auto _ : state) {
    if (c.stub->lookUp(service, 0, "", &hosts, &ok) || !ok) {
      state.SkipWithError("lookUp");
    }
  }
}
BENCHMARK(BM_LookUpLocal)->Arg(100)->Arg(100000);

void BM_ReloadAfterChange(benchmark::State& state) {
  TempDir dir;
  const std::string text = hostFile(static_cast<int>(state.range(0)));
  dir.write("Talvo.hst", text);
  locator::LocatorOptions o;
  o.directory = dir.path();
  locator::LocatorService s(o, "alpha");
  s.lookUp("svc1", 0, "", 0);
  for (auto _ : state) {
    state.PauseTiming();
    platform::writeFileAtomically(dir.file("Talvo.hst"), text);
    state.ResumeTiming();
    if (!s.lookUp("svc1", 0, "", 0).found) state.SkipWithError("lookUp");
  }
}
BENCHMARK(BM_ReloadAfterChange)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_LookUpOneHop(benchmark::State& state) {
  ServedDaemon far(hostFile(100), "1");
  ServedDaemon near("QV_daemon:127.0.0.1:\n", far.port());
  Client c(near.port());
  std::vector<std::string> hosts;
  bool ok = false;
  for (auto _ : state) {
    if (c.stub->lookUp("svc50", 1, "", &hosts, &ok) || !ok) {
      state.SkipWithError("lookUp");
    }
  }
}
BENCHMARK(BM_LookUpOneHop);

void BM_TwoRoundTrips(benchmark::State& state) {
  ServedDaemon d(hostFile(100), "1");
  Client c(d.port());
  bool exists = false;
  for (auto _ : state) {
    c.stub->serverExists("bank", &exists);
    c.stub->serverExists("bank", &exists);
  }
}
BENCHMARK(BM_TwoRoundTrips);

}  // namespace
}  // namespace talvo::testing

BENCHMARK_MAIN();
