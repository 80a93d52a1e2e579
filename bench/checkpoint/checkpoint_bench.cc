// Checkpoint costs: a registration's write with 100 and with 100,000 lines
// in the file (written as the daemon's start leaves it) (rewritten in place,
// appended, and rewritten longer, which replaces the whole file), and the
// start-up state transfer of 10,000 live entries.

#include <benchmark/benchmark.h>
#include <signal.h>

#include "activation/posix_activator.h"
#include "activation_support.h"
#include "checkpoint/daemon_checkpoint.h"
#include "checkpoint_support.h"
#include "platform/files.h"
#include "support/temp_dir.h"

namespace talvo::checkpoint {
namespace {

using talvo::testing::FakeRuntime;
using talvo::testing::TempDir;
using talvo::testing::TraceCapture;

std::string fileOf(int lines, const std::string& server = "", pid_t pid = 4242,
                   const std::string& port = "7601") {
  std::string text;
  for (int i = 0; i < lines; ++i) {
    std::string name = server.empty() ? "server" + std::to_string(i) : server;
    text += checkpointLine(name, "m" + std::to_string(i), "", pid, 4, "tcp",
                           "xdr", port, 2);
  }
  return text;
}

// Argument: lines in the file. The key written lies in the middle.
void BM_RegistrationInPlace(benchmark::State& state) {
  TraceCapture quiet;
  TempDir dir;
  const int lines = static_cast<int>(state.range(0));
  platform::writeFileAtomically(dir.file("f"), fileOf(lines));
  DaemonCPFile file(dir.file("f"), DaemonCPFile::Mode::kUpdate);
  file.open();
  const std::string server = "server" + std::to_string(lines / 2);
  const std::string marker = "m" + std::to_string(lines / 2);
  int pid = 1000;
  for (auto _ : state) {
    quiet.clear();
    file.write_data(server, marker, pid = 3000 - pid, 4, "tcp", "xdr", "7601",
                    2, "");
  }
}
BENCHMARK(BM_RegistrationInPlace)->Arg(100)->Arg(100000);

// The lookup alone, without the write: what the index costs.
void BM_Find(benchmark::State& state) {
  TraceCapture quiet;
  TempDir dir;
  const int lines = static_cast<int>(state.range(0));
  platform::writeFileAtomically(dir.file("f"), fileOf(lines));
  DaemonCPFile file(dir.file("f"), DaemonCPFile::Mode::kUpdate);
  file.open();
  const std::string server = "server" + std::to_string(lines / 2);
  const std::string marker = "m" + std::to_string(lines / 2);
  for (auto _ : state) {
    quiet.clear();
    benchmark::DoNotOptimize(file.find(server, marker, ""));
  }
}
BENCHMARK(BM_Find)->Arg(100)->Arg(100000);

void BM_RegistrationAppended(benchmark::State& state) {
  TraceCapture quiet;
  TempDir dir;
  platform::writeFileAtomically(dir.file("f"),
                                fileOf(static_cast<int>(state.range(0))));
  DaemonCPFile file(dir.file("f"), DaemonCPFile::Mode::kUpdate);
  file.open();
  int n = 0;
  for (auto _ : state) {
    quiet.clear();
    file.write_data("new" + std::to_string(n++), "m", 1000, 4, "tcp", "xdr",
                    "7601", 2, "");
  }
}
BENCHMARK(BM_RegistrationAppended)->Arg(100)->Arg(100000);

// The new line is longer than the old: the whole file is replaced.
void BM_RegistrationLonger(benchmark::State& state) {
  TraceCapture quiet;
  TempDir dir;
  const int lines = static_cast<int>(state.range(0));
  platform::writeFileAtomically(dir.file("f"), fileOf(lines));
  DaemonCPFile file(dir.file("f"), DaemonCPFile::Mode::kUpdate);
  file.open();
  int pid = 1000;
  for (auto _ : state) {
    quiet.clear();
    pid = pid == 1000 ? 100000 : 1000;
    file.write_data("server1", "m1", pid, 4, "tcp", "xdr", "7601", 2, "");
  }
}
BENCHMARK(BM_RegistrationLonger)->Arg(100)->Arg(100000);

// 10,000 entries of one running server, each under its own marker.
void BM_TransferState(benchmark::State& state) {
  TraceCapture quiet;
  TempDir dir;
  testing::EndChildren cleanup;
  const pid_t pid = testing::startServer("bank", "7601");
  const std::string text =
      fileOf(static_cast<int>(state.range(0)), "bank", pid, "7601");
  for (auto _ : state) {
    state.PauseTiming();
    platform::writeFileAtomically(dir.file("f"), text);
    quiet.clear();
    state.ResumeTiming();
    DaemonCheckPoint cp;
    CORBA::Environment env;
    cp.openForReading(dir.file("f"), env);
    cp.openForWriting(dir.file("f"), env);
    FakeRuntime runtime;
    PosixActivator activator(runtime, &cp);
    transferState(cp, activator, dir.file("f"), env);
    if (activator.size() != static_cast<std::size_t>(state.range(0))) {
      state.SkipWithError("not every entry was taken over");
      break;
    }
  }
}
BENCHMARK(BM_TransferState)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace talvo::checkpoint

BENCHMARK_MAIN();
