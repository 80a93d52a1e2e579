// Files watched for changes and rewritten with a backup: the locator's host
// and group files.
//
// A FileStamp tells whether a file changed on disk: it holds the full
// modification and change times (nanoseconds), the size and the device and
// inode, so that an edit within the same second as the last read, a file
// replaced by another or given other rights, is noticed. readStampedFile()
// reads a file and stamps what it read (from the open descriptor, so stamp and
// content belong together).
//
// writeFileWithBackup() replaces a file and keeps its previous content as a
// backup without the path ever being missing or half-written: the new
// content goes to a temporary file in the same directory, which is flushed
// to disk; the previous file is then linked (or, where links are refused,
// copied) to the backup name, replacing an earlier backup in one rename;
// last the temporary file is renamed over the path. A hook may stop the
// sequence between its steps (tests inject faults there).
//
// Thread safety: no state; as safe as the system calls beneath.

#ifndef TALVO_PLATFORM_STAMPED_FILE_H_
#define TALVO_PLATFORM_STAMPED_FILE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>

namespace talvo::platform {

struct FileStamp {
  bool exists = false;
  std::int64_t mtime_ns = 0;
  std::int64_t ctime_ns = 0;  // status change: also set by chmod, rename
  std::uint64_t size = 0;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool operator==(const FileStamp&) const = default;
};

// The stamp of the file at `path` (exists false when there is none, or it
// cannot be examined).
FileStamp fileStamp(const std::string& path);

// The wall-clock time in nanoseconds, on the clock file times are taken
// from (read without entering the kernel).
std::int64_t wallClockNs();

// Reads the whole regular file at `path` into `out` and its stamp into
// `stamp`. Fails with the errno of the open or read, EISDIR/EINVAL for what
// is no regular file, EFBIG above `limit` bytes.
std::error_code readStampedFile(const std::string& path, std::size_t limit,
                                std::string* out, FileStamp* stamp);

// The points between the steps of writeFileWithBackup().
enum class BackupStep {
  kTemporaryWritten,  // the new content is on disk under a temporary name
  kBackupKept,        // the previous file is under the backup name
};
// Returns a non-empty error to stop the write at that point.
using BackupHook = std::function<std::error_code(BackupStep)>;

// Replaces `path` with `contents`, keeping the previous file (when there is
// one) as `backup`. On failure `path` is untouched and no temporary file is
// left. A file that existed keeps its permission bits.
std::error_code writeFileWithBackup(const std::string& path,
                                    std::string_view contents,
                                    const std::string& backup,
                                    const BackupHook& hook = {});

}  // namespace talvo::platform

#endif  // TALVO_PLATFORM_STAMPED_FILE_H_
