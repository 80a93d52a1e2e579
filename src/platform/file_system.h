// File-system calls with errno results, as the implementation repository
// uses them: file kinds, bounded reads of regular files, directory
// listings, creation and removal. The repository reads in terms of records,
// directories and owner files; these are its only ways to the disk. Failures
// come back as an errno value (0 for success); nothing here throws.
//
// Thread safety: the functions hold no state; they are as safe as the
// underlying system calls.

#ifndef TALVO_PLATFORM_FILE_SYSTEM_H_
#define TALVO_PLATFORM_FILE_SYSTEM_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace talvo::platform {

enum class FileKind { kNone, kFile, kDirectory, kOther };

// What lies at `path` (symbolic links followed); kNone when nothing does or
// it cannot be examined.
FileKind fileKind(const std::string& path);

// Reads the whole of a regular file into `out`. Returns 0, an errno value
// (ENOENT when there is no such file, EACCES when it may not be read, EISDIR
// for a directory, EINVAL for anything else that is no regular file), or
// EFBIG when the file holds more than `limit` bytes. `out` is empty after a
// failure.
int readRegularFile(const std::string& path, std::size_t limit,
                    std::string* out);

// Replaces `path` as a whole with `content`: writes a temporary file in the
// same directory, flushes it to disk and renames it over `path`, so that a
// crash leaves either the old file or the new one. A file that existed keeps
// its permission bits. Returns 0 or an errno value; on failure the temporary
// file is removed and `path` is untouched. (platform::writeFileAtomically.)
int rewriteFile(const std::string& path, const std::string& content);

// Removes a file (not a directory). Returns 0 or an errno value.
int removeFile(const std::string& path);

// Creates a directory (mode 0777 less the umask) / removes an empty one.
int makeDirectory(const std::string& path);
int removeDirectory(const std::string& path);

struct DirEntry {
  std::string name;
  bool isDirectory;  // a real directory, not a link to one
  bool isFile;       // a regular file or a link to one
};

// The entries of a directory other than "." and "..", sorted by name so
// that every listing of an unchanged directory comes out the same. Returns 0
// or an errno value.
int listDirectory(const std::string& path, std::vector<DirEntry>* out);

// Renames `from` to `to`, failing with EEXIST when `to` exists (nothing is
// replaced), then flushes the directory of `to` to disk. Returns 0 or an
// errno value.
int renameNoReplace(const std::string& from, const std::string& to);

// Removes `path` and, for a directory, everything below it; symbolic links
// are removed, never followed. Returns 0 or the first errno value met.
int removeTree(const std::string& path);

// A name for something made aside and renamed into place, or moved aside
// before it is removed: ":" (which no repository name may hold), `purpose`,
// this process's id and a counter, e.g. ":new.4711.0".
std::string stagingName(std::string_view purpose);
// True for a name stagingName gives; `pid` gets the process that made it.
bool isStagingName(std::string_view name, long* pid);

// Removes what interrupted runs left below `root` (its whole tree):
// temporary files of rewrites (isTemporaryName) and staged directories
// (isStagingName) whose process no longer runs. Returns how many were
// removed.
int removeLeftovers(const std::string& root);

// The system's message for an errno value.
std::string errorText(int error);

}  // namespace talvo::platform

#endif  // TALVO_PLATFORM_FILE_SYSTEM_H_
