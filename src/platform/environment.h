// The process environment.
//
// Thread safety: reads may run concurrently with each other; a change
// (setEnv, unsetEnv) must not run while another thread reads the
// environment (the C library's rule).

#ifndef TALVO_PLATFORM_ENVIRONMENT_H_
#define TALVO_PLATFORM_ENVIRONMENT_H_

#include <optional>
#include <string>

namespace talvo::platform {

// The value of the environment variable `name`, or nullopt when it is not
// set. A variable set to the empty text counts as not set, as on the
// platform the daemon was first written for, where an environment entry
// cannot be empty.
std::optional<std::string> getEnv(const std::string& name);

// Sets (replacing) or removes a variable. False when the name is empty or
// holds "=", or the C library refuses.
bool setEnv(const std::string& name, const std::string& value);
bool unsetEnv(const std::string& name);

}  // namespace talvo::platform

#endif  // TALVO_PLATFORM_ENVIRONMENT_H_
