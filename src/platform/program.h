// The running program's own identity (its absolute path) and its
// immediate end.
//
// Thread safety: the functions may be called from any thread.

#ifndef TALVO_PLATFORM_PROGRAM_H_
#define TALVO_PLATFORM_PROGRAM_H_

#include <string>

namespace talvo::platform {

// The absolute path of the running program (the target of /proc/self/exe).
// Empty when it cannot be had.
std::string programPath();

// Flushes the standard I/O streams and ends the process at once with
// `code`: no destructors or exit handlers run, whatever other threads do.
[[noreturn]] void exitImmediately(int code);

}  // namespace talvo::platform

#endif  // TALVO_PLATFORM_PROGRAM_H_
