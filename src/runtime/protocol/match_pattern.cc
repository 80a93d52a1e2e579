#include "runtime/protocol/match_pattern.h"

#include <cstddef>

namespace talvo {
namespace {

// Characters of a set compare as signed bytes.
int sb(char c) { return static_cast<signed char>(c); }

// Tests name character `c` against the set that starts right after "[" at
// pattern position `p`. On kMatch or kNoMatch, `p` is left just after the
// closing "]"; kAbandon for a malformed set.
MatchResult matchSet(std::string_view pattern, std::size_t& p, char c) {
  const std::size_t n = pattern.size();
  bool negate = false;
  if (p < n && (pattern[p] == '!' || pattern[p] == '^')) {
    negate = true;
    ++p;
  }
  // A set closed at once is empty: it can never match.
  if (p >= n || pattern[p] == ']') return MatchResult::kAbandon;
  bool matched = false;
  while (!matched) {
    if (p >= n) return MatchResult::kAbandon;
    if (pattern[p] == ']') break;
    char low = pattern[p];
    if (low == '\\') {
      if (++p >= n) return MatchResult::kAbandon;
      low = pattern[p];
    }
    ++p;
    if (p < n && pattern[p] == '-') {
      ++p;
      if (p >= n || pattern[p] == ']') return MatchResult::kAbandon;
      char high = pattern[p];
      if (high == '\\') {
        if (++p >= n) return MatchResult::kAbandon;
        high = pattern[p];
      }
      ++p;
      int lo = sb(low), hi = sb(high);
      if (lo > hi) {
        int t = lo;
        lo = hi;
        hi = t;
      }
      matched = sb(c) >= lo && sb(c) <= hi;
    } else {
      matched = c == low;
    }
  }
  // Skip the rest of the set up to its "]".
  while (p < n && pattern[p] != ']') {
    if (pattern[p] == '\\') ++p;
    ++p;
  }
  if (p >= n) return MatchResult::kAbandon;
  ++p;  // past "]"
  return matched != negate ? MatchResult::kMatch : MatchResult::kNoMatch;
}

MatchResult match(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, t = 0;
  const std::size_t pn = pattern.size(), tn = name.size();
  while (p < pn) {
    if (t >= tn) {
      // Only a single final "*" matches the empty rest of a name.
      return (p + 1 == pn && pattern[p] == '*') ? MatchResult::kMatch
                                                : MatchResult::kAbandon;
    }
    switch (pattern[p]) {
      case '?':
        ++p;
        ++t;
        break;
      case '*': {
        // A run of "*" and "?": each "?" takes one character.
        while (p < pn && (pattern[p] == '*' || pattern[p] == '?')) {
          if (pattern[p] == '?') {
            if (t >= tn) return MatchResult::kAbandon;
            ++t;
          }
          ++p;
        }
        if (p >= pn) return MatchResult::kMatch;
        const char next = pattern[p];
        for (; t < tn; ++t) {
          if (name[t] != next && next != '[') continue;
          MatchResult r = match(pattern.substr(p), name.substr(t));
          if (r != MatchResult::kNoMatch) return r;
        }
        return MatchResult::kAbandon;
      }
      case '[': {
        ++p;
        MatchResult r = matchSet(pattern, p, name[t]);
        if (r != MatchResult::kMatch) return r;
        ++t;
        break;
      }
      case '\\': {
        // An escaped character matches with or without a backslash before
        // it in the name. A final backslash stands for itself.
        char literal = '\\';
        if (p + 1 < pn) literal = pattern[++p];
        if (name[t] == '\\') ++t;
        if (t >= tn || name[t] != literal) return MatchResult::kNoMatch;
        ++p;
        ++t;
        break;
      }
      default:
        if (name[t] != pattern[p]) return MatchResult::kNoMatch;
        ++p;
        ++t;
        break;
    }
  }
  return t == tn ? MatchResult::kMatch : MatchResult::kNoMatch;
}

}  // namespace

MatchResult matchPattern(std::string_view pattern, std::string_view name) {
  return match(pattern, name);
}

}  // namespace talvo
