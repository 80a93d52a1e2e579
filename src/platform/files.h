// File and directory tests, whole-file reads and the atomic file rewrite.
//
// Every rewrite of a file in the system goes through writeFileAtomically():
// the new contents go to a temporary file in the same directory, which is
// flushed to disk and rename(2)d over the original, so that a crash at any
// moment leaves either the old file or the new one.
//
// Thread safety: all functions are safe to call from any thread; concurrent
// rewrites of one file leave one of the writers' contents.

#ifndef TALVO_PLATFORM_FILES_H_
#define TALVO_PLATFORM_FILES_H_

#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace talvo::platform {

// True when something (file, directory, ...) exists at `path`.
bool pathExists(const std::string& path);
// True when `path` names a directory (symbolic links followed).
bool isDirectory(const std::string& path);
// True when `path` names an existing file that is not a directory and that
// opens for reading (the file is closed again at once).
bool isReadableFile(const std::string& path);

// The whole contents of the file at `path`, or nullopt when it does not
// exist, is a directory or cannot be read (the reason in `*error` when
// given).
std::optional<std::string> readFile(const std::string& path,
                                    std::error_code* error = nullptr);

// Replaces the file at `path` with `contents`: writes a temporary file in
// the same directory, fsyncs it, renames it over `path` and fsyncs the
// directory. A file that existed keeps its permission bits; a new one gets
// 0666 less the umask. With `mode`, the file gets exactly those bits
// whatever the umask, new or not. The temporary file's name is the path
// followed by ".tmp.", this process's id, "." and a counter (see
// isTemporaryName). Returns an empty error code on success; on failure the
// original is untouched and the temporary file removed.
std::error_code writeFileAtomically(const std::string& path,
                                    std::string_view contents,
                                    std::optional<unsigned> mode = {});

// True for a file name that writeFileAtomically gives its temporary files
// (NAME.tmp.PID.N); `pid` gets the process that made it.
bool isTemporaryName(std::string_view name, long* pid);

// Removes the temporary files of rewrites of `path` that a process which
// no longer runs left behind (killed between writing and renaming).
void removeStaleTemporaries(const std::string& path);

// Whether process `pid` may still be at work (it exists, ours or not).
bool processMayRun(long pid);

}  // namespace talvo::platform

#endif  // TALVO_PLATFORM_FILES_H_
