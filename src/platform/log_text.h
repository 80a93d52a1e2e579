// Text bound for a log line: what a client sent (a user name, a server
// name) must not break the line or forge another one.
//
// Thread safety: pure functions.

#ifndef TALVO_PLATFORM_LOG_TEXT_H_
#define TALVO_PLATFORM_LOG_TEXT_H_

#include <string>
#include <string_view>

namespace talvo::platform {

// `text` with every control character (codes 0 to 31 and 127) written as
// "\xHH" (two upper-case hex digits). Text without one comes back as it
// is; escaping twice changes nothing more.
std::string escapeControlCharacters(std::string_view text);

}  // namespace talvo::platform

#endif  // TALVO_PLATFORM_LOG_TEXT_H_
