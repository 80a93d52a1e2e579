// Activation costs: the pattern walk of getLaunchRecord over a large table,
// the bare start of a process with its still-running test, and a whole
// launch by the activator for comparison.

#include <benchmark/benchmark.h>

#include "activation/posix_activator.h"
#include "activation_support.h"
#include "platform/process.h"

namespace talvo {
namespace {

using talvo::testing::FakeRuntime;
using talvo::testing::TraceCapture;

// A server name whose pattern key "<name>|||*|||" lies in `bucket`.
std::string serverInBucket(int bucket) {
  for (int n = 0;; ++n) {
    std::string name = "bank" + std::to_string(n);
    if (LaunchTable::bucketOf(name + "|||*|||") == bucket) return name;
  }
}

// A table of `count` records: exact keys and one pattern key "<server>|||*|||"
// in the given bucket (13 is near the start of the walk, 510 its end).
void fill(Activator& activator, int count, const std::string& server) {
  for (int i = 0; i < count - 1; ++i) {
    activator.registerActivation(
        "server" + std::to_string(i), "obj" + std::to_string(i),
        LaunchStatus::automaticLaunch, "xdr", "tcp", "7601", "7602",
        processIdBuffer(i + 1), std::nullopt);
  }
  activator.registerActivation(server, "*", LaunchStatus::automaticLaunch,
                               "xdr", "tcp", "7601", "7602", processIdBuffer(1),
                               std::nullopt);
}

// Arguments: table size, bucket of the only key that matches (by pattern).
void BM_GetLaunchRecordByPattern(benchmark::State& state) {
  TraceCapture quiet;
  FakeRuntime runtime;
  PosixActivator activator(runtime);
  std::string server = serverInBucket(static_cast<int>(state.range(1)));
  fill(activator, static_cast<int>(state.range(0)), server);
  for (auto _ : state) {
    quiet.clear();
    benchmark::DoNotOptimize(activator.getLaunchRecord(server, "obj42", {}));
  }
}
BENCHMARK(BM_GetLaunchRecordByPattern)->Args({10000, 13})->Args({10000, 510});

// No record matches at all: the walk visits every stored key.
void BM_GetLaunchRecordMiss(benchmark::State& state) {
  TraceCapture quiet;
  FakeRuntime runtime;
  PosixActivator activator(runtime);
  fill(activator, static_cast<int>(state.range(0)), serverInBucket(510));
  for (auto _ : state) {
    quiet.clear();
    benchmark::DoNotOptimize(activator.getLaunchRecord("shop", "obj42", {}));
  }
}
BENCHMARK(BM_GetLaunchRecordMiss)->Arg(10000);

void BM_SpawnAndStillRunning(benchmark::State& state) {
  for (auto _ : state) {
    platform::SpawnResult child = platform::spawnProcess("sleep 30", {});
    bool running = platform::isChildRunning(child.pid);
    state.PauseTiming();
    if (!running) state.SkipWithError("child not running");
    platform::killChildAndWait(child.pid);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_SpawnAndStillRunning)->UseRealTime();

void BM_LaunchServer(benchmark::State& state) {
  TraceCapture quiet;
  FakeRuntime runtime;
  PosixActivator activator(runtime);
  LaunchRequest request;
  request.server = "bank";
  request.command = "sleep 30";
  request.code = "xdr";
  request.comms = "tcp";
  request.port = "7601";
  request.iiopPort = "7602";
  request.daemonPort = 7591;
  for (auto _ : state) {
    Status error = activator.launchServer(request);
    state.PauseTiming();
    if (error) state.SkipWithError("launch failed");
    LaunchRecord* record = activator.table().find("bank||||||");
    if (record) platform::killChildAndWait(record->processId());
    activator.deleteActivation("bank", "", {});
    quiet.clear();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_LaunchServer)->UseRealTime();

}  // namespace
}  // namespace talvo

BENCHMARK_MAIN();
