#include "imprep/launch_info.h"

#include "runtime/protocol/match_pattern.h"

namespace talvo::imprep {

LaunchInfo::~LaunchInfo() = default;

std::uint32_t LaunchInfo::bucketOf(std::string_view key) {
  std::uint32_t h = 1;
  for (char c : key) {
    h = 2 * h + static_cast<std::uint32_t>(
                    static_cast<std::int32_t>(static_cast<signed char>(c)));
  }
  std::uint32_t bucket = h % kBuckets;
  return bucket == 0 ? 1 : bucket;
}

std::optional<LaunchEntry> LaunchInfo::lookup(std::string_view key) const {
  for (const LaunchEntry& e : buckets_[bucketOf(key)]) {
    if (e.key == key) return e;
  }
  for (std::uint32_t b = 1; b < kBuckets; ++b) {
    for (const LaunchEntry& e : buckets_[b]) {
      if (key.empty() || patternMatches(e.key, key)) return e;
    }
  }
  return std::nullopt;
}

void LaunchInfo::remove(std::string_view key) {
  auto& chain = buckets_[bucketOf(key)];
  for (auto it = chain.begin(); it != chain.end(); ++it) {
    if (it->key == key) {
      chain.erase(it);
      return;
    }
  }
}

void LaunchInfo::add(std::string_view key, std::string_view command) {
  auto& chain = buckets_[bucketOf(key)];
  for (LaunchEntry& e : chain) {
    if (e.key == key) {
      e.command = command;
      return;
    }
  }
  chain.push_back(LaunchEntry{std::string(key), std::string(command)});
}

std::vector<LaunchEntry> LaunchInfo::list() const {
  std::vector<LaunchEntry> out;
  for (std::uint32_t b = 1; b < kBuckets; ++b) {
    out.insert(out.end(), buckets_[b].begin(), buckets_[b].end());
  }
  return out;
}

std::size_t LaunchInfo::size() const {
  std::size_t n = 0;
  for (const auto& chain : buckets_) n += chain.size();
  return n;
}

std::optional<LaunchEntry> PerMethodLaunchInfo::lookup(
    std::string_view key) const {
  return LaunchInfo::lookup(key == "_QV_PING" ? std::string_view() : key);
}

}  // namespace talvo::imprep
