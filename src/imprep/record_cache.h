// RecordCache: parsed server records kept between requests, each with the
// stamp of the file it was read from.
//
// A record is served from the cache only while its file still has the
// stamp it had when it was read: device, inode, size, and modification and
// change times in nanoseconds. One stat of the path tells; any edit (by
// this daemon, another daemon or by hand), a replaced file, a change of
// its rights or its removal changes the stamp and the file is read again.
// A file changed so recently that a further change could carry the same
// times (file times advance in clock ticks, not nanoseconds) is not served
// from the cache until it has settled, so two edits within one tick that
// keep the size are still told apart.
//
// The cache holds at most kMaxEntries records and kMaxBytes of record text
// (by file size); the least recently used go first. A record also keeps
// the trace lines its parse wrote, so that a record served from the cache
// traces exactly as one read from disk.
//
// Thread safety: none; the repository's one thread uses it.

#ifndef TALVO_IMPREP_RECORD_CACHE_H_
#define TALVO_IMPREP_RECORD_CACHE_H_

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "imprep/record.h"
#include "platform/stamped_file.h"

namespace talvo::imprep {

class RecordCache {
 public:
  static constexpr std::size_t kMaxEntries = 512;
  static constexpr std::uint64_t kMaxBytes = 4 << 20;
  // How long after its last change a file must be left alone before its
  // record is served from the cache.
  static constexpr std::int64_t kSettleNs = 100'000'000;

  struct Entry {
    platform::FileStamp stamp;
    std::shared_ptr<const ImpRepRecord> record;
    std::vector<std::string> traceLines;  // written by the parse, in order
  };

  struct Stats {
    std::uint64_t hits = 0;
    std::uint64_t misses = 0;
  };

  // The entry of `path` when `now` (the file's stamp at this moment) equals
  // the stamp it was read with; otherwise null, and a stale entry is
  // dropped. Counts a hit or a miss.
  const Entry* find(const std::string& path, const platform::FileStamp& now);

  // Keeps what was read from `path`. `readStartNs` is the wall-clock time
  // taken before the file was opened: a file changed within kSettleNs of
  // it is not kept.
  void put(const std::string& path, Entry entry, std::int64_t readStartNs);

  std::size_t size() const { return index_.size(); }
  const Stats& stats() const { return stats_; }

 private:
  using Order = std::list<std::pair<std::string, Entry>>;  // most recent first

  void evictTo(std::size_t entries, std::uint64_t bytes);

  Order order_;
  std::unordered_map<std::string, Order::iterator> index_;
  std::uint64_t bytes_ = 0;
  Stats stats_;
};

}  // namespace talvo::imprep

#endif  // TALVO_IMPREP_RECORD_CACHE_H_
