// Feeds arbitrary bytes to the CDR decoder in both byte orders and through
// nested encapsulations. Decoding must fail cleanly, never crash.

#include <cstddef>
#include <cstdint>

#include "runtime/protocol/cdr_codec.h"

namespace {

void drive(talvo::protocol::CdrDecoder& d, std::span<const std::uint8_t> ops,
           int depth) {
  for (std::size_t i = 0; i < ops.size(); ++i) {
    std::int16_t s;
    std::uint32_t u;
    double dd;
    bool b;
    std::optional<std::string> str;
    std::vector<std::uint8_t> oct;
    bool ok = true;
    switch (ops[i] % 7) {
      case 0:
        ok = d.getShort(s);
        break;
      case 1:
        ok = d.getULong(u);
        break;
      case 2:
        ok = d.getDouble(dd);
        break;
      case 3:
        ok = d.getString(str);
        break;
      case 4:
        ok = d.getOctets(oct);
        break;
      case 5:
        ok = d.getBoolean(b);
        break;
      case 6:
        if (depth < 4) {
          auto inner = d.getEncapsulation();
          if (inner != nullptr) drive(*inner, ops.subspan(i + 1), depth + 1);
          ok = inner != nullptr;
        }
        break;
    }
    if (!ok) return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 8) return 0;
  std::span<const std::uint8_t> ops(data, 8);
  std::span<const std::uint8_t> in(data + 8, size - 8);
  for (bool le : {false, true}) {
    talvo::protocol::CdrDecoder d(in, le, 12);
    drive(d, ops, 0);
  }
  return 0;
}
