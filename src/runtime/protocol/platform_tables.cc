#include "runtime/protocol/platform_tables.h"

#include <array>

namespace talvo::protocol {
namespace {

struct PlatformEntry {
  int index;
  std::string_view platform;
  std::string_view compiler;
  std::string_view tag;
};

// Only this build's platform is known; peers of other platforms show the
// unknown texts.
constexpr std::array<PlatformEntry, 1> kPlatforms = {{
    {11, "Win32", "GNU C++", "s1195"},
}};

const PlatformEntry* find(int index) {
  for (const PlatformEntry& e : kPlatforms) {
    if (e.index == index) return &e;
  }
  return nullptr;
}

}  // namespace

std::string_view platformName(int index) {
  const PlatformEntry* e = find(index);
  return e != nullptr ? e->platform : "Unknown platform";
}

std::string_view compilerName(int index) {
  const PlatformEntry* e = find(index);
  return e != nullptr ? e->compiler : "Unknown architecture";
}

std::string_view buildTag(int index) {
  const PlatformEntry* e = find(index);
  return e != nullptr ? e->tag : "";
}

}  // namespace talvo::protocol
