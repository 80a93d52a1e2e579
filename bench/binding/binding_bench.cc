// Binding costs, side by side in one run: a request answered from a running
// server, a request that launches the server, and the bare start of the
// same program (posix_spawnp with the ten launch variables) followed by the
// still-running test.

#include <benchmark/benchmark.h>

#include <filesystem>

#include "activation/posix_activator.h"
#include "activation_support.h"
#include "binding/binding_service.h"
#include "platform/process.h"
#include "probe_support.h"

namespace talvo {
namespace {

using talvo::testing::FakeRuntime;
using talvo::testing::TempDir;
using talvo::testing::TraceCapture;

// A repository with one shared server whose command starts the probe.
struct Fixture {
  TraceCapture quiet;
  TempDir dir;
  std::unique_ptr<imprep::ImpRepository> repository;
  FakeRuntime runtime;
  PosixActivator activator{runtime};
  PortAllocator ports{"43500", "50"};
  std::unique_ptr<BindingService> service;
  std::string command;

  Fixture() {
    std::string root = dir.file("rep");
    std::filesystem::create_directory(root);
    imprep::ImpRepository::create(root.c_str(), &repository);
    command = std::string(TALVO_LAUNCH_PROBE) + " " + dir.file("r") + " 60";
    repository->createShared("bench", "bank", {{"*", command}}, imprep::kPlain,
                             1, 0, false);
    BindingOptions options;
    options.daemonPort = 7591;
    options.daemonUser = "bench";
    service = std::make_unique<BindingService>(*repository, activator, ports,
                                               std::move(options));
  }
  ~Fixture() { stop(); }
  Status bind() {
    ImplementationDetails out;
    return service->getImplementationDetails({"bench", 5}, "bank", "acct", "",
                                             &out);
  }
  // Ends the running server and forgets it.
  void stop() {
    if (LaunchRecord* r = activator.getLaunchRecord("bank", "*", {})) {
      platform::killChildAndWait(r->processId());
      activator.deleteActivation("bank", "*", {});
    }
  }
};

void BM_BindToRunningServer(benchmark::State& state) {
  Fixture f;
  if (f.bind()) state.SkipWithError("launch failed");
  for (auto _ : state) {
    benchmark::DoNotOptimize(f.bind());
    state.PauseTiming();
    f.quiet.clear();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_BindToRunningServer)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->UseRealTime();

void BM_BindWithLaunch(benchmark::State& state) {
  Fixture f;
  for (auto _ : state) {
    Status error = f.bind();
    state.PauseTiming();
    if (error) state.SkipWithError("launch failed");
    f.stop();
    f.quiet.clear();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_BindWithLaunch)
    ->Iterations(100)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->UseRealTime();

void BM_SpawnAndStillRunning(benchmark::State& state) {
  Fixture f;
  std::vector<platform::EnvChange> env;
  for (const char* name : kLaunchVariables) env.push_back({name, "7601"});
  for (auto _ : state) {
    platform::SpawnResult child = platform::spawnProcess(f.command, env);
    bool running = platform::isChildRunning(child.pid);
    state.PauseTiming();
    if (!running) state.SkipWithError("spawn failed");
    platform::killChildAndWait(child.pid);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_SpawnAndStillRunning)
    ->Iterations(100)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->UseRealTime();

}  // namespace
}  // namespace talvo

BENCHMARK_MAIN();
