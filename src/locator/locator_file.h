// The locator's host and group files: their reading rules, their tables
// and their rewrite.
//
// Both files hold one entry per line: a name, ":", a first list, ":", a
// second list, each list items joined by ",". In the host file the name is
// a service, the first list its hosts and the second its groups; in the
// group file the name is a group and the first list its hosts (the second
// is written empty).
//
// parseLocatorText() reads such a text as bytes: each line ends at its line
// feed or at the end of the text and nothing is read past it. A name is
// letters, digits and "_/.-" and must end at ":" or at the end of its line,
// else the line is refused with the "Formatting error" pair of diagnostic
// lines naming the character and the line number; an empty name is ignored
// silently; a repeated name is refused with "[ name repetition (...) ]". A
// list is letters, digits and "_-.,+=" and must end at ":" or at the end
// of the line, else it is dropped; an empty item ends it. Lines longer than
// 511 bytes with their line feed are refused whole, with a diagnostic.
//
// A LocatorFile holds one file's entries (in file order, hashed as the
// locator tables of 211 buckets are), knows whether it has changed on disk
// since it was loaded (modification time in nanoseconds, size, inode), and
// writes itself back in hash order through a temporary file with the
// previous file kept as ".bak". Lines the reader refused are written back
// as they were, so that an edit never drops what it could not read.
//
// Thread safety: none; one thread uses a file object.

#ifndef TALVO_LOCATOR_LOCATOR_FILE_H_
#define TALVO_LOCATOR_LOCATOR_FILE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/stamped_file.h"
#include "runtime/except/exception.h"

namespace talvo::locator {

using Names = std::vector<std::string>;

inline constexpr std::size_t kLineLimit = 511;  // bytes with the line feed
inline constexpr int kLocatorBuckets = 211;
// ASCII_FILE minors: the file cannot be opened, cannot be written.
inline constexpr std::uint32_t kMinorFileOpen = 10541;
inline constexpr std::uint32_t kMinorFileWrite = 10543;

enum class FileKind { kHost, kGroup };
enum class OpenMode { kRead, kUpdate };

// Where diagnostic lines go. `prefix` gives the trace-line prefix, or
// nullopt when the diagnostics level is 0 (nothing is written then);
// `line` writes one line as given (a line end is added).
struct Diagnostics {
  std::function<std::optional<std::string>()> prefix;
  std::function<void(std::string_view)> line;

  // Writes prefix + `text`, then each of `more` as it is; nothing at
  // level 0.
  void write(std::string_view text,
             std::initializer_list<std::string_view> more = {}) const;
};

// True when `text` is a non-empty name, or list item, the reader accepts.
bool validName(std::string_view text);
bool validItem(std::string_view text);

// The bucket (1 to 210) of a name in the locator tables.
int locatorBucket(std::string_view name);

struct ParsedEntry {
  std::string name;
  Names first;
  Names second;
  // The line as it stands, when the reader dropped part of it (a list with
  // a refused character, or items after an empty one).
  std::optional<std::string> raw;
};

struct ParsedText {
  std::vector<ParsedEntry> entries;  // in line order, first of a name wins
  std::vector<std::string> refused;  // whole lines the reader refused
};

// Reads `text` (see above). Diagnostics name `path`.
ParsedText parseLocatorText(std::string_view text, FileKind kind,
                            std::string_view path, const Diagnostics& diag);

class LocatorFile {
 public:
  LocatorFile(FileKind kind, std::string path, OpenMode mode);

  FileKind kind() const { return kind_; }
  const std::string& path() const { return path_; }
  OpenMode mode() const { return mode_; }
  // Set when the last load could not open or read the file.
  bool failed() const { return failed_; }

  // Loads the file. Read mode: a file that cannot be read leaves the file
  // empty and failed, and is ASCII_FILE 10541 with the path. Update mode
  // creates a missing file empty (10543 when it cannot). `groups` (host
  // file in read mode) resolves the groups of each entry into its hosts.
  Status load(const Diagnostics& diag, const LocatorFile* groups = nullptr);

  // The entry's first / second list; null when the name has no entry.
  const Names* first(std::string_view name) const;
  const Names* second(std::string_view name) const;
  bool has(std::string_view name) const { return first(name) != nullptr; }
  std::size_t size() const { return entries_.size(); }

  // Edits: add an item if absent (false when present), making the entry;
  // remove an item (false when the name or item is not there).
  bool addFirst(std::string_view name, std::string_view item);
  bool addSecond(std::string_view name, std::string_view item);
  bool removeFirst(std::string_view name, std::string_view item);
  bool removeSecond(std::string_view name, std::string_view item);
  bool edited() const { return edited_; }

  // The file's text: entries in hash order, then the refused lines.
  std::string text() const;
  // Writes text() when an edit succeeded (update mode only), keeping the
  // previous file as path + ".bak". Failure: ASCII_FILE 10543 with the
  // path; the file on disk is then unchanged.
  Status save(const platform::BackupHook& hook = {});

  // Whether the file on disk differs from what was loaded. A host file
  // that is missing counts as unchanged; a group file that appeared or
  // disappeared has changed.
  bool changedOnDisk() const;

 private:
  struct Entry {
    Names first;
    Names second;
    std::uint64_t order = 0;
    std::optional<std::string> raw;  // written back unless edited
  };
  Entry& entry(std::string_view name);
  void resolveGroups(Entry& e, const LocatorFile* groups,
                     const Diagnostics& diag) const;

  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const {
      return std::hash<std::string_view>{}(s);
    }
  };

  FileKind kind_;
  std::string path_;
  OpenMode mode_;
  bool failed_ = false;
  bool edited_ = false;
  platform::FileStamp stamp_;
  std::unordered_map<std::string, Entry, NameHash, std::equal_to<>> entries_;
  std::vector<std::string> refused_;
  std::uint64_t next_order_ = 0;
};

}  // namespace talvo::locator

#endif  // TALVO_LOCATOR_LOCATOR_FILE_H_
