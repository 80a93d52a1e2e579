// Fuzzes the errors-file reader and the formatting of its texts: any file
// content must parse, and any text must format within the buffer, whatever
// conversions it holds.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/except/catalogue.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  const talvo::ErrorCatalogue::Entries entries =
      talvo::ErrorCatalogue::parse(content);
  const std::string_view args[] = {"first", "second", "third"};
  for (const auto& [code, text] : entries) {
    if (text.size() > talvo::ErrorCatalogue::kMaxEntryLength) __builtin_trap();
    // Each text once, with as many arguments (none to three) as the low
    // bits of its code say: the input chooses, and a file of a few hundred
    // entries costs a quarter of formatting each text four times.
    const std::size_t count = static_cast<std::uint32_t>(code) % 4;
    const std::string out = talvo::formatMessage(text, std::span(args, count));
    if (out.size() > talvo::ErrorCatalogue::kMaxTextLength) __builtin_trap();
  }
  // The content itself as a format.
  talvo::formatMessage(content, std::span(args, 1));
  return 0;
}
