// Test stand-in for the run time's marker matcher, used only while the
// protocol layer does not provide it yet. Shell-style: ?, *, [sets] with
// ranges and negation, backslash escapes; 1 match, 0 no match, 2 abandon.

namespace talvo {
namespace {

constexpr int kNoMatch = 0;
constexpr int kMatch = 1;
constexpr int kAbandon = 2;

int matchFrom(const char* p, const char* n);

// Tests one set at `p` ("[") against *n; on success `p` is left past "]".
int matchSet(const char*& p, char c) {
  ++p;
  bool negate = false;
  if (*p == '!' || *p == '^') {
    negate = true;
    ++p;
  }
  if (*p == ']') return kAbandon;
  bool matched = false;
  while (*p != ']') {
    if (*p == '\0') return kAbandon;
    if (*p == '\\' && *++p == '\0') return kAbandon;
    signed char lo = static_cast<signed char>(*p++);
    if (*p == '-') {
      ++p;
      if (*p == '\0' || *p == ']') return kAbandon;
      if (*p == '\\' && *++p == '\0') return kAbandon;
      signed char hi = static_cast<signed char>(*p++);
      signed char v = static_cast<signed char>(c);
      if ((lo <= v && v <= hi) || (hi <= v && v <= lo)) matched = true;
    } else if (lo == static_cast<signed char>(c)) {
      matched = true;
    }
    if (matched) {
      while (*p != ']') {
        if (*p == '\0') return kAbandon;
        if (*p == '\\' && *++p == '\0') return kAbandon;
        ++p;
      }
      break;
    }
  }
  ++p;
  return matched != negate ? kMatch : kNoMatch;
}

int matchStar(const char* p, const char* n) {
  while (*p == '*' || *p == '?') {
    if (*p == '?') {
      if (*n == '\0') return kAbandon;
      ++n;
    }
    ++p;
  }
  if (*p == '\0') return kMatch;
  for (; *n != '\0'; ++n) {
    if (*n == *p || *p == '[') {
      int result = matchFrom(p, n);
      if (result != kNoMatch) return result;
    }
  }
  return kAbandon;
}

int matchFrom(const char* p, const char* n) {
  while (*p != '\0') {
    if (*n == '\0') return (p[0] == '*' && p[1] == '\0') ? kMatch : kAbandon;
    switch (*p) {
      case '?':
        break;
      case '*':
        return matchStar(p, n);
      case '[': {
        int result = matchSet(p, *n);
        if (result != kMatch) return result;
        ++n;
        continue;
      }
      case '\\':
        ++p;
        if (*n == '\\') ++n;
        if (*p != *n) return kNoMatch;
        break;
      default:
        if (*p != *n) return kNoMatch;
    }
    ++p;
    ++n;
  }
  return *n == '\0' ? kMatch : kNoMatch;
}

}  // namespace

int matchPattern(const char* pattern, const char* name) {
  return matchFrom(pattern, name);
}

}  // namespace talvo
