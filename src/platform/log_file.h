// The daemon's log file: opened for appending, created with mode 0600
// whatever the umask, never through a symbolic link (a link planted at the
// log's path cannot make the daemon write to another file), and never
// handed on to launched servers.
//
// Thread safety: plain function; the stream belongs to its caller.

#ifndef TALVO_PLATFORM_LOG_FILE_H_
#define TALVO_PLATFORM_LOG_FILE_H_

#include <cstdio>
#include <string>

namespace talvo::platform {

// The open stream, or null (errno set) when `path` cannot be opened so or
// is no regular file.
std::FILE* openLogFile(const std::string& path);

}  // namespace talvo::platform

#endif  // TALVO_PLATFORM_LOG_FILE_H_
