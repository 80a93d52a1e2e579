// Reading a record (done on every binding request) and listing a large
// repository directory.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "imprep/repository.h"

namespace talvo::imprep {
namespace {

// A repository on a fresh temporary directory, removed at the end.
class TempRepository {
 public:
  TempRepository() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "imprepbenchXXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) root_ = pattern;
    ImpRepository::create(root_.c_str(), &rep_);
  }
  ~TempRepository() {
    std::error_code ignored;
    if (!root_.empty()) std::filesystem::remove_all(root_, ignored);
  }
  ImpRepository* get() { return rep_.get(); }
  const std::string& root() const { return root_; }

 private:
  std::string root_;
  std::unique_ptr<ImpRepository> rep_;
};

void BM_ReadRecord10Markers(benchmark::State& state) {
  TempRepository temp;
  std::vector<LaunchEntry> markers;
  for (int i = 0; i < 10; ++i) {
    std::string key = "obj", command = "/usr/local/bin/bank_server -m ";
    key += std::to_string(i);
    command += std::to_string(i);
    markers.push_back({key, command});
  }
  if (!temp.get() ||
      temp.get()->createShared("alice", "bank", markers, kPlain, 1, 0, false)) {
    state.SkipWithError("cannot create the record");
    return;
  }
  for (auto _ : state) {
    std::unique_ptr<ImpRepRecord> record;
    Status s = temp.get()->readRecord("bank", &record);
    benchmark::DoNotOptimize(record);
    if (s) state.SkipWithError("read failed");
  }
}
BENCHMARK(BM_ReadRecord10Markers)->Unit(benchmark::kMicrosecond);

void BM_ListServers10000(benchmark::State& state) {
  TempRepository temp;
  if (!temp.get()) {
    state.SkipWithError("no repository");
    return;
  }
  // Plain files stand in for records: listing reads names only.
  for (int i = 0; i < 10000; ++i) {
    std::string path = temp.root();
    path += "/server";
    path += std::to_string(i);
    path += ".IMP";
    if (FILE* f = std::fopen(path.c_str(), "w")) std::fclose(f);
  }
  for (auto _ : state) {
    std::vector<std::string> list;
    Status s = temp.get()->listServers("", &list);
    if (s || list.size() != 10000) state.SkipWithError("listing failed");
    benchmark::DoNotOptimize(list);
  }
}
BENCHMARK(BM_ListServers10000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace talvo::imprep

BENCHMARK_MAIN();
