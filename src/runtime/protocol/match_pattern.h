// Shell-style matching of markers against stored patterns.
//
// Stored markers (in server records, launch records and the checkpoint file)
// are read as patterns: "*" matches any run of characters, "?" any one
// character, "[...]" a set or range of characters ("[!...]" or "[^...]"
// negated), and a backslash makes the next character literal. The matcher
// has three results; only kMatch counts as a match for every caller, and
// kAbandon (a malformed pattern, or one that cannot match any longer name)
// counts as no match.
//
// Thread safety: a pure function; safe from any thread.

#ifndef TALVO_RUNTIME_PROTOCOL_MATCH_PATTERN_H_
#define TALVO_RUNTIME_PROTOCOL_MATCH_PATTERN_H_

#include <string_view>

namespace talvo {

enum class MatchResult : int {
  kNoMatch = 0,
  kMatch = 1,
  kAbandon = 2,
};

// Matches `name` against `pattern`. Never reads outside either view; the
// recursion depth is bounded by the number of "*" runs in the pattern.
MatchResult matchPattern(std::string_view pattern, std::string_view name);

// True exactly when matchPattern() gives kMatch.
inline bool patternMatches(std::string_view pattern, std::string_view name) {
  return matchPattern(pattern, name) == MatchResult::kMatch;
}

}  // namespace talvo

#endif  // TALVO_RUNTIME_PROTOCOL_MATCH_PATTERN_H_
