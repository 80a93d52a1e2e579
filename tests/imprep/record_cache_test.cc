// The record cache behind the shared readRecord(): a record is served from
// memory only while its file is unchanged, and traces as a read does.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "temp_repository.h"

namespace talvo::imprep {
namespace {

class RecordCacheTest : public TempRepositoryTest {
 protected:
  void SetUp() override {
    TempRepositoryTest::SetUp();
    ASSERT_EQ(ImpRepository::create(
                  root_.c_str(), &rep_,
                  [this](std::string_view l) { lines_.emplace_back(l); }),
              nullptr);
    ASSERT_EQ(
        rep_->createShared("A", "bank", {{"m", "srv -a"}}, kPlain, 1, 0, false),
        nullptr);
  }

  // Reads until the record comes from the cache (a file just written is
  // read from disk until it has settled).
  void waitUntilCached() {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::shared_ptr<const ImpRepRecord> r;
    for (;;) {
      const std::uint64_t hits = rep_->cacheStats().hits;
      ASSERT_EQ(rep_->readRecord("bank", &r), nullptr);
      if (rep_->cacheStats().hits > hits) return;
      ASSERT_LT(std::chrono::steady_clock::now(), deadline);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  std::string command() {
    std::shared_ptr<const ImpRepRecord> r;
    if (Status s = rep_->readRecord("bank", &r)) return s->bareName();
    return r->launchInfo().lookup("m")->command;
  }

  std::vector<std::string> lines_;
};

TEST_F(RecordCacheTest, CachedRecordTracesAsARead) {
  lines_.clear();
  std::shared_ptr<const ImpRepRecord> fromDisk, cached;
  ASSERT_EQ(rep_->readRecord("bank", &fromDisk), nullptr);
  const std::vector<std::string> read = lines_;
  ASSERT_FALSE(read.empty());
  waitUntilCached();
  lines_.clear();
  ASSERT_EQ(rep_->readRecord("bank", &cached), nullptr);
  EXPECT_EQ(lines_, read);
  EXPECT_EQ(cached->owner(), "A");
  EXPECT_EQ(cached->launchInfo().list(), fromDisk->launchInfo().list());
}

// Each change is seen by the very next read, once the cache serves the
// record: an edit through the repository, an edit by hand in place within
// the same second that keeps the size, a file replaced by another, and the
// record's removal.
TEST_F(RecordCacheTest, EveryChangeIsSeenByTheNextRead) {
  const std::string path = rep_->recordPath("bank");
  auto editInPlace = [&](const std::string& from, const std::string& to) {
    std::string text = readFile(path);
    text.replace(text.find(from), from.size(), to);
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.write(text.data(), static_cast<std::streamsize>(text.size()));
  };

  waitUntilCached();
  ASSERT_EQ(rep_->changeOwnerServer("A", "bank", "B"), nullptr);
  std::shared_ptr<const ImpRepRecord> r;
  ASSERT_EQ(rep_->readRecord("bank", &r), nullptr);
  EXPECT_EQ(r->owner(), "B");

  waitUntilCached();
  editInPlace("srv -a", "srv -b");
  EXPECT_EQ(command(), "srv -b");

  waitUntilCached();
  std::string text = readFile(path);
  text.replace(text.find("srv -b"), 6, "srv -c");
  writeFile(path + ".new", text);
  ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
  EXPECT_EQ(command(), "srv -c");

  waitUntilCached();
  ASSERT_EQ(rep_->deleteServer("B", "bank"), nullptr);
  Status gone = rep_->readRecord("bank", &r);
  EXPECT_EQ(minorOf(gone), 10241u);
  EXPECT_EQ(r, nullptr);
}

}  // namespace
}  // namespace talvo::imprep
