// Launch records and the launch table.
//
// A LaunchRecord describes one server process the daemon believes to run on
// this host: how clients reach it, which process it is and how it came to
// run. The LaunchTable maps launch keys ("server|||marker|||principal") to
// records in 511 buckets; its walk order (bucket 1 upwards, each chain from
// head to tail) decides which stored pattern wins when several match, and
// the order of listings.
//
// Thread safety: none; the daemon's event-loop thread alone uses the table.

#ifndef TALVO_ACTIVATION_LAUNCH_TABLE_H_
#define TALVO_ACTIVATION_LAUNCH_TABLE_H_

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/daemon_types.h"

namespace talvo {

// How a server process came to run (QV_daemon::LaunchStatus).
using client::LaunchStatus;

struct LaunchRecord {
  std::string code;
  std::string comms;
  std::string port;
  std::string iiopPort;
  LaunchStatus status = LaunchStatus::inActive;
  // The operating-system process id as 4 bytes in host order.
  std::vector<std::uint8_t> osSpecific;
  std::optional<std::string> principal;
  std::uint32_t roundRobinCount = 0;

  std::uint32_t osSpecificSize() const {
    return static_cast<std::uint32_t>(osSpecific.size());
  }
  // The process id held in osSpecific; 0 when the buffer is too short.
  std::int32_t processId() const;
};

// A 4-byte osSpecific buffer holding `pid`.
std::vector<std::uint8_t> processIdBuffer(std::int32_t pid);

// One line of trace text describing `record`.
std::string describeRecord(const LaunchRecord& record);

// The launch key of the three parts; an absent part counts as empty.
std::string makeLaunchKey(std::string_view server, std::string_view marker,
                          const std::optional<std::string>& principal);

// The parts of a launch key: the server name (always), the marker and the
// principal (absent when empty). A text without both separators yields
// three absent parts (the server as the empty text).
struct LaunchKeyParts {
  std::string server;
  std::optional<std::string> marker;
  std::optional<std::string> principal;
};
LaunchKeyParts splitLaunchKey(std::string_view key);

// The value of a text read like atoi: leading white space, an optional
// sign, decimal digits, the rest ignored (0 when there are no digits;
// clamped to the 32-bit range). A null text reads as 0. The one reader of
// such numbers for the daemon's settings, configuration values and
// checkpoint file.
std::int32_t leadingInteger(std::string_view text);
std::int32_t leadingInteger(const char* text);

class LaunchTable {
 public:
  static constexpr int kBuckets = 511;

  // The hash of a key: starts at 1, h = 2h + byte (a signed 8-bit value) in
  // unsigned 32-bit arithmetic.
  static std::uint32_t hash(std::string_view key);
  // h mod 511, with 0 replaced by 1.
  static int bucketOf(std::string_view key);

  // Appends `record` under `key` at the tail of its bucket's chain. False
  // (and `record` destroyed) when the key is present already.
  bool insert(std::string key, std::unique_ptr<LaunchRecord> record);
  // The record stored under exactly `key`, or null. Owned by the table.
  LaunchRecord* find(std::string_view key) const;
  // The first entry in walk order whose stored key, read as a pattern,
  // matches `key`; null when none does. `storedKey` (if given) receives the
  // stored key.
  LaunchRecord* findMatch(const std::string& key,
                          std::string* storedKey = nullptr) const;
  // Removes and destroys the first entry in walk order whose stored key
  // matches `key` as a pattern. False when none matched.
  bool removeFirstMatch(const std::string& key);
  // Every stored key, in walk order.
  std::vector<std::string> keys() const;
  std::size_t size() const { return size_; }

 private:
  struct Entry {
    std::string key;
    std::unique_ptr<LaunchRecord> record;
  };
  // Whether `key` holds a pattern character; a key without one matches
  // only itself, so walks test it by equality and skip buckets holding no
  // pattern key except the one the key itself hashes to.
  static bool isPattern(std::string_view key);
  bool mayMatch(int bucket, int ownBucket) const {
    return bucket == ownBucket || patterns_[bucket] != 0;
  }
  static bool matches(const std::string& stored, const std::string& key);

  std::array<std::vector<Entry>, kBuckets> buckets_;
  std::array<std::uint32_t, kBuckets> patterns_{};  // pattern keys per bucket
  std::size_t size_ = 0;
};

}  // namespace talvo

#endif  // TALVO_ACTIVATION_LAUNCH_TABLE_H_
