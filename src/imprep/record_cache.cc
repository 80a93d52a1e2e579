#include "imprep/record_cache.h"

#include <algorithm>

namespace talvo::imprep {

const RecordCache::Entry* RecordCache::find(const std::string& path,
                                            const platform::FileStamp& now) {
  auto it = index_.find(path);
  if (it == index_.end()) {
    ++stats_.misses;
    return nullptr;
  }
  Order::iterator pos = it->second;
  if (!now.exists || !(pos->second.stamp == now)) {
    bytes_ -= pos->second.stamp.size;
    order_.erase(pos);
    index_.erase(it);
    ++stats_.misses;
    return nullptr;
  }
  order_.splice(order_.begin(), order_, pos);
  ++stats_.hits;
  return &pos->second;
}

void RecordCache::put(const std::string& path, Entry entry,
                      std::int64_t readStartNs) {
  const platform::FileStamp& s = entry.stamp;
  // Times at or after the read began may be shared by a later change.
  const std::int64_t changed = std::max(s.mtime_ns, s.ctime_ns);
  if (!s.exists || !entry.record || changed > readStartNs - kSettleNs ||
      s.size > kMaxBytes / 4) {
    return;
  }
  if (auto it = index_.find(path); it != index_.end()) {
    bytes_ -= it->second->second.stamp.size;
    order_.erase(it->second);
    index_.erase(it);
  }
  evictTo(kMaxEntries - 1, kMaxBytes - s.size);
  bytes_ += s.size;
  order_.emplace_front(path, std::move(entry));
  index_.emplace(path, order_.begin());
}

void RecordCache::evictTo(std::size_t entries, std::uint64_t bytes) {
  while (!order_.empty() && (index_.size() > entries || bytes_ > bytes)) {
    bytes_ -= order_.back().second.stamp.size;
    index_.erase(order_.back().first);
    order_.pop_back();
  }
}

}  // namespace talvo::imprep
