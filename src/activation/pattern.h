// Private to the activation layer: the marker matcher of the run time.
// Until the protocol layer's header is present, the activator is written
// against its declared interface: 1 match, 0 no match, 2 abandon.

#ifndef TALVO_ACTIVATION_PATTERN_H_
#define TALVO_ACTIVATION_PATTERN_H_

#if __has_include("runtime/protocol/match_pattern.h")
#include "runtime/protocol/match_pattern.h"
#else
namespace talvo {
int matchPattern(const char* pattern, const char* name);
}  // namespace talvo
#endif

#endif  // TALVO_ACTIVATION_PATTERN_H_
