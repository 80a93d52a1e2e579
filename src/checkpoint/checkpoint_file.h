// DaemonCPFile: the checkpoint file, one line per launch record the daemon
// knows, so that a restarted daemon can take the running servers over.
//
// A line is "server:marker:principal:a:pid:size:comms:code:port:status:"
// and a line feed. Its entry key is the text up to and including the third
// ":"; a key is looked up by taking each line's entry key as a pattern
// (matchPattern) and the first matching line in file order wins (a line
// also matches its own key, pattern characters and all). Lines are edited
// in place: deletion turns the state "a" into "d"; a registration whose key
// matches a line rewrites that line, live or deleted, else it is appended.
//
// Keeping the file whole when the daemon is killed at any moment:
// - a rewritten line of the same length, a deletion and an append are each
//   one write of the kernel's, done or not done;
// - a line whose new text has another length is never patched: the whole
//   file is replaced (temporary file, fsync, rename) with the line in its
//   place, so no fragment is left and no neighbour overwritten;
// - a last line without its line feed (a torn append) is skipped with a
//   diagnostic line when read and cut off when the file is opened for
//   update;
// - fields are read whole, whatever their length; a text that would break
//   the line format (":", a control character) is not written.
// compact() rewrites the file without the lines of deleted entries; the
// daemon does so once its state transfer is done, so the file stays
// bounded by the entries of one run.
//
// An index of entry keys to line numbers makes a lookup cost about the same
// with a hundred lines or a hundred thousand: lines whose key holds no
// pattern character are found by their key; lines with pattern characters
// are grouped by their server name (when that part is plain text) and
// tried in file order.
//
// Every trace line goes to traceStream(), whatever the diagnostics level.
//
// Thread safety: none; the daemon's event-loop thread alone uses it.

#ifndef TALVO_CHECKPOINT_CHECKPOINT_FILE_H_
#define TALVO_CHECKPOINT_CHECKPOINT_FILE_H_

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/line_file.h"
#include "runtime/except/exception.h"

namespace talvo::checkpoint {

// One entry as readEntry gives it. Numbers are read like atoi.
struct CheckpointEntry {
  std::string server;
  std::string marker;
  std::string principal;
  char state = '\0';  // 'a' live, 'd' deleted; '\0' when there is none
  std::int32_t pid = 0;
  std::int32_t size = 0;
  std::string comms;
  std::string code;
  std::string port;
  std::int32_t status = 0;
};

// The line of a live entry, line feed included.
std::string checkpointLine(std::string_view server, std::string_view marker,
                           std::string_view principal, std::int32_t pid,
                           std::int64_t size, std::string_view comms,
                           std::string_view code, std::string_view port,
                           std::int32_t status);

// The fields of one line (without its line feed); missing fields are empty
// or 0.
CheckpointEntry parseCheckpointLine(std::string_view line);

// The entry key of a line: the text up to and including its third ":";
// empty when the line has fewer than three.
std::string_view entryKey(std::string_view line);

class DaemonCPFile {
 public:
  enum class Mode { kRead, kUpdate };

  DaemonCPFile(std::string path, Mode mode);
  ~DaemonCPFile();
  DaemonCPFile(const DaemonCPFile&) = delete;
  DaemonCPFile& operator=(const DaemonCPFile&) = delete;

  // Opens the file. A reading file whose path does not exist is switched
  // to update mode first, so that the file is created (empty, mode 0600).
  // ASCII_FILE 10541 (detail the path) when it cannot be opened, 10543 when
  // it cannot be created.
  Status open();
  // ASCII_FILE 10542 (detail the path) when closing fails.
  Status close();
  bool isOpen() const { return isOpen_; }
  const std::string& path() const { return path_; }
  Mode mode() const { return mode_; }

  // The offset of the first line whose entry key matches the key of the
  // three, or -1.
  std::int64_t find(std::string_view server, std::string_view marker,
                    std::string_view principal);
  // Rewrites the first matching line, live or deleted, with a live entry
  // of the values, or appends one. False when nothing was written.
  bool write_data(std::string_view server, std::string_view marker,
                  std::int32_t pid, std::int64_t size, std::string_view comms,
                  std::string_view code, std::string_view port,
                  std::int32_t status, std::string_view principal);
  // Marks the first matching line deleted; nothing when none matches.
  void set_del(std::string_view server, std::string_view marker,
               std::string_view principal);
  // The process id of the line at `offset`; `*length` its length, line
  // feed included.
  std::int32_t read_pid(std::int64_t offset, std::size_t* length);
  // The next entry of a reading file, from the text the file held when it
  // was opened; false at its end.
  bool readEntry(CheckpointEntry* entry);

  // Rewrites the file as a whole without the lines of deleted entries and
  // lines that hold no entry. False when the rewrite failed (the file is
  // then as it was).
  bool compact();

  // The number of lines of an update file.
  std::size_t lineCount() const { return lines_.size(); }

 private:
  struct Line {
    std::uint64_t offset;
    std::uint32_t length;  // line feed included
    std::string key;       // empty for a line without an entry key
  };
  using LineSet = std::set<std::uint32_t>;

  Status openForUpdate(bool create);
  // Rebuilds the lines and the index from the file's text.
  void load(std::string_view text);
  void index(std::uint32_t n);
  void unindex(std::uint32_t n);
  // The line number that find() settles on, or -1.
  std::int64_t firstMatch(const std::string& key) const;
  std::int64_t lineAt(std::int64_t offset) const;
  // Replaces line `n` by `text` in a whole rewrite of the file.
  bool rewriteLine(std::uint32_t n, const std::string& text);

  std::string path_;
  Mode mode_;
  bool isOpen_ = false;
  std::unique_ptr<platform::LineFile> file_;
  std::string lineBuffer_;  // the line last read by find or read_pid

  // Update mode: the lines in file order and their index.
  std::vector<Line> lines_;
  std::unordered_map<std::string, LineSet> plainKeys_;
  std::unordered_map<std::string, LineSet> patternsByServer_;
  LineSet wildPatterns_;

  // Read mode: the text read at open and how far readEntry has come.
  std::string snapshot_;
  std::size_t readPos_ = 0;
};

}  // namespace talvo::checkpoint

#endif  // TALVO_CHECKPOINT_CHECKPOINT_FILE_H_
