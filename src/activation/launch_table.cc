#include "activation/launch_table.h"

#include <cctype>
#include <charconv>
#include <cstring>
#include <limits>

#include "runtime/protocol/match_pattern.h"

namespace talvo {
namespace {

constexpr std::string_view kSeparator = "|||";

const char* statusName(LaunchStatus status) {
  switch (status) {
    case LaunchStatus::inActive:
      return "inActive";
    case LaunchStatus::manualLaunch:
      return "manualLaunch";
    case LaunchStatus::automaticLaunch:
      return "automaticLaunch";
  }
  return "unknown";
}

std::optional<std::string> presentIfNotEmpty(std::string_view text) {
  if (text.empty()) return std::nullopt;
  return std::string(text);
}

}  // namespace

std::int32_t LaunchRecord::processId() const {
  if (osSpecific.size() < sizeof(std::int32_t)) return 0;
  std::int32_t pid;
  std::memcpy(&pid, osSpecific.data(), sizeof pid);
  return pid;
}

std::vector<std::uint8_t> processIdBuffer(std::int32_t pid) {
  std::vector<std::uint8_t> buffer(sizeof pid);
  std::memcpy(buffer.data(), &pid, sizeof pid);
  return buffer;
}

std::string describeRecord(const LaunchRecord& record) {
  std::string text = "code " + record.code + " comms " + record.comms +
                     " port " + record.port + " iiopPort " + record.iiopPort +
                     " status " + statusName(record.status) + " pid " +
                     std::to_string(record.processId()) + " principal " +
                     (record.principal ? *record.principal : "(none)");
  return text;
}

std::string makeLaunchKey(std::string_view server, std::string_view marker,
                          const std::optional<std::string>& principal) {
  std::string key;
  key.reserve(server.size() + marker.size() + 6 +
              (principal ? principal->size() : 0));
  key.append(server).append(kSeparator).append(marker).append(kSeparator);
  if (principal) key.append(*principal);
  return key;
}

LaunchKeyParts splitLaunchKey(std::string_view key) {
  LaunchKeyParts parts;
  std::size_t first = key.find(kSeparator);
  if (first == std::string_view::npos) return parts;
  std::size_t second = key.find(kSeparator, first + kSeparator.size());
  if (second == std::string_view::npos) return parts;
  parts.server = std::string(key.substr(0, first));
  std::size_t markerStart = first + kSeparator.size();
  parts.marker =
      presentIfNotEmpty(key.substr(markerStart, second - markerStart));
  parts.principal = presentIfNotEmpty(key.substr(second + kSeparator.size()));
  return parts;
}

std::int32_t leadingInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i++] == '-';
  }
  // Unsigned, so that from_chars takes digits only (no second sign).
  std::uint64_t magnitude = 0;
  auto [end, error] =
      std::from_chars(text.data() + i, text.data() + text.size(), magnitude);
  if (end == text.data() + i) return 0;  // no digits
  constexpr std::uint64_t kMax = std::numeric_limits<std::int32_t>::max();
  if (error == std::errc::result_out_of_range || magnitude > kMax + negative) {
    return negative ? std::numeric_limits<std::int32_t>::min()
                    : std::numeric_limits<std::int32_t>::max();
  }
  const auto value = static_cast<std::int64_t>(magnitude);
  return static_cast<std::int32_t>(negative ? -value : value);
}

std::int32_t leadingInteger(const char* text) {
  return text == nullptr ? 0 : leadingInteger(std::string_view(text));
}

std::uint32_t LaunchTable::hash(std::string_view key) {
  std::uint32_t h = 1;
  for (char c : key) {
    h = 2 * h + static_cast<std::uint32_t>(
                    static_cast<std::int32_t>(static_cast<std::int8_t>(c)));
  }
  return h;
}

int LaunchTable::bucketOf(std::string_view key) {
  int bucket = static_cast<int>(hash(key) % kBuckets);
  return bucket == 0 ? 1 : bucket;
}

bool LaunchTable::isPattern(std::string_view key) {
  return key.find_first_of("*?[\\") != std::string_view::npos;
}

bool LaunchTable::matches(const std::string& stored, const std::string& key) {
  return isPattern(stored) ? patternMatches(stored, key) : stored == key;
}

bool LaunchTable::insert(std::string key,
                         std::unique_ptr<LaunchRecord> record) {
  if (find(key) != nullptr) return false;
  const int bucket = bucketOf(key);
  if (isPattern(key)) ++patterns_[bucket];
  auto& chain = buckets_[bucket];
  chain.push_back(Entry{std::move(key), std::move(record)});
  ++size_;
  return true;
}

LaunchRecord* LaunchTable::find(std::string_view key) const {
  for (const Entry& entry : buckets_[bucketOf(key)]) {
    if (entry.key == key) return entry.record.get();
  }
  return nullptr;
}

LaunchRecord* LaunchTable::findMatch(const std::string& key,
                                     std::string* storedKey) const {
  const int own = bucketOf(key);
  for (int bucket = 1; bucket < kBuckets; ++bucket) {
    if (!mayMatch(bucket, own)) continue;
    for (const Entry& entry : buckets_[bucket]) {
      if (matches(entry.key, key)) {
        if (storedKey != nullptr) *storedKey = entry.key;
        return entry.record.get();
      }
    }
  }
  return nullptr;
}

bool LaunchTable::removeFirstMatch(const std::string& key) {
  const int own = bucketOf(key);
  for (int bucket = 1; bucket < kBuckets; ++bucket) {
    if (!mayMatch(bucket, own)) continue;
    auto& chain = buckets_[bucket];
    for (auto it = chain.begin(); it != chain.end(); ++it) {
      if (matches(it->key, key)) {
        if (isPattern(it->key)) --patterns_[bucket];
        chain.erase(it);
        --size_;
        return true;
      }
    }
  }
  return false;
}

std::vector<std::string> LaunchTable::keys() const {
  std::vector<std::string> result;
  result.reserve(size_);
  for (int bucket = 1; bucket < kBuckets; ++bucket) {
    for (const Entry& entry : buckets_[bucket]) result.push_back(entry.key);
  }
  return result;
}

}  // namespace talvo
