// Feeds arbitrary bytes to the XDR and NULL decoders, choosing the item
// sequence from the first bytes. Decoding must fail cleanly, never crash or
// read out of bounds.

#include <cstddef>
#include <cstdint>

#include "runtime/protocol/xdr_codec.h"

namespace {

template <class Dec>
void drive(std::span<const std::uint8_t> ops,
           std::span<const std::uint8_t> in) {
  Dec d(in);
  for (std::uint8_t op : ops) {
    std::int16_t s;
    std::uint32_t u;
    double dd;
    std::optional<std::string> str;
    std::vector<std::uint8_t> oct;
    bool ok = true;
    switch (op % 6) {
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
        ok = d.getCount(u, 4);
        break;
    }
    if (!ok) {
      if (d.error() == nullptr) __builtin_trap();
      return;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 8) return 0;
  std::span<const std::uint8_t> ops(data, 8);
  std::span<const std::uint8_t> in(data + 8, size - 8);
  drive<talvo::protocol::XdrDecoder>(ops, in);
  drive<talvo::protocol::NullDecoder>(ops, in);
  return 0;
}
