#include "runtime/protocol/codec.h"

#include "runtime/protocol/cdr_codec.h"
#include "runtime/protocol/xdr_codec.h"

namespace talvo::protocol {

const char* codecName(CodecKind kind) {
  switch (kind) {
    case CodecKind::kXdr:
      return "XDR";
    case CodecKind::kNull:
      return "NULL";
    case CodecKind::kCdr:
      return "UNO";
  }
  return "XDR";
}

const std::uint8_t* Decoder::take(std::size_t n) {
  if (failed()) return nullptr;
  if (n > remaining()) {
    fail(kMinorShortBuffer, "needed " + std::to_string(n) + " bytes, " +
                                std::to_string(remaining()) + " left");
    return nullptr;
  }
  const std::uint8_t* p = in_.data() + pos_;
  pos_ += n;
  return p;
}

bool Decoder::fail(std::uint32_t minor, std::string detail) {
  if (!failed()) {
    failed_minor_ = minor;
    failed_detail_ = std::move(detail);
  }
  return false;
}

bool Decoder::chargeBuild(std::uint64_t n, std::size_t size) {
  if (failed()) return false;
  if (size != 0 && n > build_left_ / size) {
    return fail(kMinorBadLength, "count " + std::to_string(n) +
                                     " exceeds what the message may build");
  }
  build_left_ -= static_cast<std::size_t>(n * size);
  return true;
}

Status Decoder::error() const {
  if (!failed()) return nullptr;
  return talvo::fail<CORBA::MARSHAL>(failed_minor_, failed_detail_,
                                     CORBA::COMPLETED_MAYBE);
}

bool Decoder::getCount(std::uint32_t& n, std::size_t min_element_size) {
  if (!getULong(n)) return false;
  if (min_element_size == 0) min_element_size = 1;
  if (n > remaining() / min_element_size) {
    return fail(kMinorBadLength,
                "count " + std::to_string(n) + " exceeds the " +
                    std::to_string(remaining()) + " bytes left");
  }
  return true;
}

std::unique_ptr<Encoder> makeEncoder(CodecKind kind, std::size_t origin) {
  switch (kind) {
    case CodecKind::kNull:
      return std::make_unique<NullEncoder>();
    case CodecKind::kCdr:
      return std::make_unique<CdrEncoder>(origin);
    case CodecKind::kXdr:
      break;
  }
  return std::make_unique<XdrEncoder>();
}

std::unique_ptr<Decoder> makeDecoder(CodecKind kind,
                                     std::span<const std::uint8_t> in,
                                     bool little_endian, std::size_t origin) {
  switch (kind) {
    case CodecKind::kNull:
      return std::make_unique<NullDecoder>(in);
    case CodecKind::kCdr:
      return std::make_unique<CdrDecoder>(in, little_endian, origin);
    case CodecKind::kXdr:
      break;
  }
  return std::make_unique<XdrDecoder>(in);
}

}  // namespace talvo::protocol
