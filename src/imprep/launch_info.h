// The launch table of a server record: marker (or method) to launch command.
//
// A LaunchInfo holds the activation mode and submode of a record and a hash
// table of 11 buckets from key to command. The table's order is its hash
// order: the hash of a key starts at 1 and, for each byte taken as a signed
// value, becomes twice itself plus the byte (unsigned 32-bit arithmetic);
// the bucket is the hash modulo 11, with 0 replaced by 1. Walks go from
// bucket 1 upwards and each bucket's chain from head to tail; that order
// decides which stored pattern wins a lookup and the order of list().
//
// The three subclasses differ only in lookup(): PerMethodLaunchInfo looks the
// ping key "_QV_PING" up as the empty key.
//
// Thread safety: none; a table belongs to the operation that read it.

#ifndef TALVO_IMPREP_LAUNCH_INFO_H_
#define TALVO_IMPREP_LAUNCH_INFO_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talvo::imprep {

// Activation modes (the record's mode word and the policy codes).
enum ActivationMode : std::uint32_t {
  kShared = 0,
  kUnshared = 1,
  kPerMethod = 2,
};

// Submodes of shared and unshared servers.
enum Submode : std::uint32_t {
  kPlain = 0,
  kPrivate = 1,
  kPrivatePerPid = 2,
  kRoundRobinPrestart = 3,
  kRoundRobinDynamic = 4,
};

struct LaunchEntry {
  std::string key;      // the marker or method (a pattern when looked up)
  std::string command;  // the launch command

  bool operator==(const LaunchEntry&) const = default;
};

class LaunchInfo {
 public:
  static constexpr std::uint32_t kBuckets = 11;

  virtual ~LaunchInfo();

  // Finds the command for `key`: the entry of exactly that key; otherwise,
  // for a non-empty key, the first entry in table order whose key read as a
  // pattern matches `key`; otherwise, for the empty key, the first entry.
  // The result holds copies of the entry's key and command.
  virtual std::optional<LaunchEntry> lookup(std::string_view key) const;
  // Drops the entry of exactly `key`, if any.
  void remove(std::string_view key);
  // Stores `command` under `key`, replacing the command of an existing entry
  // in place; a new key goes to the tail of its bucket.
  void add(std::string_view key, std::string_view command);
  // Every entry in table order.
  std::vector<LaunchEntry> list() const;
  std::size_t size() const;

  std::uint32_t mode() const { return mode_; }
  std::uint32_t submode() const { return submode_; }

  // The bucket of `key` (1 to kBuckets - 1).
  static std::uint32_t bucketOf(std::string_view key);

 protected:
  LaunchInfo(std::uint32_t mode, std::uint32_t submode)
      : mode_(mode), submode_(submode) {}

 private:
  std::uint32_t mode_;
  std::uint32_t submode_;
  std::array<std::vector<LaunchEntry>, kBuckets> buckets_;
};

class SharedLaunchInfo : public LaunchInfo {
 public:
  explicit SharedLaunchInfo(std::uint32_t submode)
      : LaunchInfo(kShared, submode) {}
};

class UnsharedLaunchInfo : public LaunchInfo {
 public:
  explicit UnsharedLaunchInfo(std::uint32_t submode)
      : LaunchInfo(kUnshared, submode) {}
};

class PerMethodLaunchInfo : public LaunchInfo {
 public:
  PerMethodLaunchInfo() : LaunchInfo(kPerMethod, kPlain) {}
  // "_QV_PING" is looked up as the empty key, so that pinging a per-method
  // server finds a command; any other key as in LaunchInfo.
  std::optional<LaunchEntry> lookup(std::string_view key) const override;
};

}  // namespace talvo::imprep

#endif  // TALVO_IMPREP_LAUNCH_INFO_H_
