// Feeds arbitrary bytes to the locator file reader: every entry read must
// hold only what the reader accepts, and a file rewritten after an edit
// must read back to the same entries.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "locator/locator_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace talvo::locator;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const Diagnostics quiet;
  for (FileKind kind : {FileKind::kHost, FileKind::kGroup}) {
    ParsedText p = parseLocatorText(text, kind, "fuzz", quiet);
    for (const ParsedEntry& e : p.entries) {
      if (!validName(e.name)) __builtin_trap();
      for (const Names* l : {&e.first, &e.second}) {
        for (const std::string& item : *l) {
          if (!validItem(item)) __builtin_trap();
        }
      }
      if (e.raw && e.raw->find('\n') != std::string::npos) __builtin_trap();
    }
    // Written back (as an edit would write it), the text reads the same.
    std::string again;
    for (const ParsedEntry& e : p.entries)
      again += (e.raw ? *e.raw : e.name + ":") + "\n";
    for (const std::string& line : p.refused) again += line + "\n";
    ParsedText q = parseLocatorText(again, kind, "fuzz", quiet);
    if (q.entries.size() != p.entries.size()) __builtin_trap();
    for (std::size_t i = 0; i < q.entries.size(); ++i) {
      if (q.entries[i].name != p.entries[i].name) __builtin_trap();
    }
  }
  return 0;
}
