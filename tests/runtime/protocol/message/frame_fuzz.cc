// Fuzz target for frame reading: arbitrary bytes, cut into arbitrary
// pieces, must yield frames within the limit and never more bytes than
// were fed.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "runtime/protocol/frame.h"

using talvo::ByteView;
using talvo::FrameAssembler;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 2) return 0;
  // The first byte chooses the format and the piece size, the second the
  // limit; the rest is the stream.
  const bool giop = data[0] & 0x80;
  const std::size_t piece = (data[0] & 0x7f) + 1;
  const std::uint64_t limit = 16 + std::uint64_t{data[1]} * 64;
  ByteView stream(data + 2, size - 2);

  FrameAssembler assembler(
      giop ? talvo::giopFrameFormat() : talvo::talvoFrameFormat(), limit);
  const std::size_t header = giop ? 12 : 4;
  std::size_t delivered = 0;
  while (!stream.empty()) {
    ByteView chunk = stream.first(std::min(piece, stream.size()));
    stream = stream.subspan(chunk.size());
    for (;;) {
      FrameAssembler::Result r = assembler.feed(chunk);
      if (r == FrameAssembler::Result::kTooLarge) {
        if (assembler.purportedSize() <= limit) std::abort();
        return 0;
      }
      if (r == FrameAssembler::Result::kNeedMore) break;
      talvo::Bytes frame = assembler.takeFrame();
      std::size_t body = frame.size() - (giop ? header : 0);
      if (body > limit) std::abort();
      delivered += frame.size() + (giop ? 0 : header);
      if (giop && frame.size() < header) std::abort();
    }
    if (!chunk.empty()) std::abort();
  }
  if (delivered > size - 2) std::abort();
  return 0;
}
