// The running program's own identity: its absolute path.
//
// Thread safety: the functions may be called from any thread.

#ifndef TALVO_PLATFORM_PROGRAM_H_
#define TALVO_PLATFORM_PROGRAM_H_

#include <string>

namespace talvo::platform {

// The absolute path of the running program (the target of /proc/self/exe).
// Empty when it cannot be had.
std::string programPath();

}  // namespace talvo::platform

#endif  // TALVO_PLATFORM_PROGRAM_H_
