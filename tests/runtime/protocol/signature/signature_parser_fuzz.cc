// Parses arbitrary text as a signature and as a type description; what
// parses must format back to a text that parses to the same thing, and the
// parsed types must survive a walk over hostile bytes.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/protocol/signature.h"
#include "runtime/protocol/xdr_codec.h"

using namespace talvo::protocol;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Signature sig;
  if (parseSignature(text, sig) == nullptr) {
    Signature again;
    if (parseSignature(formatSignature(sig), again) != nullptr ||
        formatSignature(again) != formatSignature(sig)) {
      __builtin_trap();
    }
    XdrDecoder d(std::span<const std::uint8_t>(data, size));
    std::vector<Value> args;
    (void)unmarshalRequestArgs(d, sig, args);
  }
  TypeDesc type;
  if (parseTypeText(text, type) == nullptr) {
    TypeDesc again;
    if (parseTypeText(formatType(type), again) != nullptr ||
        !sameType(type, again)) {
      __builtin_trap();
    }
  }
  (void)parameterDescription(text);
  (void)dynamicSignatureMatches(text, sig);
  return 0;
}
