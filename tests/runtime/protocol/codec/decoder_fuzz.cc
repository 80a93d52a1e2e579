// Feeds arbitrary bytes to every decoder (XDR, NULL, CDR in both byte
// orders, through nested encapsulations), choosing the item sequence from
// the first eight bytes. Decoding must fail cleanly, with its error set,
// never crash or read out of bounds.

#include <cstddef>
#include <cstdint>

#include "runtime/protocol/cdr_codec.h"
#include "runtime/protocol/xdr_codec.h"

namespace {

using talvo::protocol::Decoder;

void drive(Decoder& d, std::span<const std::uint8_t> ops, int depth) {
  for (std::size_t i = 0; i < ops.size(); ++i) {
    std::int16_t s;
    std::uint32_t u;
    double dd;
    bool b;
    std::optional<std::string> str;
    std::vector<std::uint8_t> oct;
    bool ok = true;
    switch (ops[i] % 8) {
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
        ok = d.getCount(u, 4);
        break;
      case 7:
        if (auto* cdr = dynamic_cast<talvo::protocol::CdrDecoder*>(&d);
            cdr != nullptr && depth < 4) {
          auto inner = cdr->getEncapsulation();
          if (inner != nullptr) drive(*inner, ops.subspan(i + 1), depth + 1);
          ok = inner != nullptr;
        }
        break;
    }
    if (!ok) {
      if (!d.failed()) __builtin_trap();
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
  talvo::protocol::XdrDecoder xdr(in);
  drive(xdr, ops, 0);
  talvo::protocol::NullDecoder null(in);
  drive(null, ops, 0);
  for (bool le : {false, true}) {
    talvo::protocol::CdrDecoder cdr(in, le, 12);
    drive(cdr, ops, 0);
  }
  return 0;
}
