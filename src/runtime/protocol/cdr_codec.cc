#include "runtime/protocol/cdr_codec.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace talvo::protocol {

CdrEncoder::CdrEncoder(std::size_t origin, std::size_t reserve)
    : origin_(origin) {
  out_.reserve(reserve);
}

CdrEncoder::CdrEncoder(std::size_t origin, std::size_t reserve,
                       bool little_endian)
    : CdrEncoder(origin, reserve) {
  little_endian_ = little_endian;
}

void CdrEncoder::align(std::size_t n) {
  const std::size_t at = origin_ + out_.size();
  const std::size_t pad = (n - at % n) % n;
  out_.resize(out_.size() + pad, 0);
}

void CdrEncoder::putRaw(const void* v, std::size_t n) {
  align(n);
  const std::size_t at = out_.size();
  out_.resize(at + n);
  if (little_endian_ == kLittleEndian) {
    std::memcpy(out_.data() + at, v, n);
  } else {
    const auto* src = static_cast<const std::uint8_t*>(v);
    std::reverse_copy(src, src + n, out_.data() + at);
  }
}

void CdrEncoder::putString(std::optional<std::string_view> v) {
  const std::string_view s = v.value_or(std::string_view());
  putULong(static_cast<std::uint32_t>(s.size() + 1));
  out_.insert(out_.end(), s.begin(), s.end());
  out_.push_back(0);
}

void CdrEncoder::putOctets(std::span<const std::uint8_t> v) {
  putULong(static_cast<std::uint32_t>(v.size()));
  out_.insert(out_.end(), v.begin(), v.end());
}

void CdrEncoder::putEncapsulation(const CdrEncoder& body) {
  putOctets(body.bytes());
}

CdrDecoder::CdrDecoder(std::span<const std::uint8_t> in, bool little_endian,
                       std::size_t origin)
    : Decoder(in), little_endian_(little_endian), origin_(origin) {}

bool CdrDecoder::align(std::size_t n) {
  const std::size_t at = origin_ + pos_;
  const std::size_t pad = (n - at % n) % n;
  return pad == 0 || take(pad) != nullptr;
}

bool CdrDecoder::getRaw(void* v, std::size_t n) {
  if (!align(n)) return false;
  const std::uint8_t* p = take(n);
  if (p == nullptr) return false;
  auto* dst = static_cast<std::uint8_t*>(v);
  if (little_endian_ == (std::endian::native == std::endian::little)) {
    std::memcpy(dst, p, n);
  } else {
    std::reverse_copy(p, p + n, dst);
  }
  return true;
}

bool CdrDecoder::getChar(char& v) {
  const std::uint8_t* p = take(1);
  if (p == nullptr) return false;
  v = static_cast<char>(*p);
  return true;
}

bool CdrDecoder::getBoolean(bool& v) {
  const std::uint8_t* p = take(1);
  if (p == nullptr) return false;
  if (*p > 1) return fail(kMinorBadLength, "boolean " + std::to_string(*p));
  v = *p == 1;
  return true;
}

bool CdrDecoder::getOctet(std::uint8_t& v) {
  const std::uint8_t* p = take(1);
  if (p == nullptr) return false;
  v = *p;
  return true;
}

bool CdrDecoder::getString(std::optional<std::string>& v) {
  std::uint32_t n;
  if (!getULong(n)) return false;
  if (n == 0) {
    v.reset();
    return true;
  }
  if (n > remaining()) {
    return fail(kMinorBadLength,
                "string length " + std::to_string(n) + " exceeds the " +
                    std::to_string(remaining()) + " bytes left");
  }
  const auto* chars = reinterpret_cast<const char*>(take(n));
  const std::size_t length = ::strnlen(chars, n);
  // Only NULs may follow the text: a NUL inside it would cut a name or an
  // operation name short without anyone noticing.
  for (std::size_t i = length; i < n; ++i) {
    if (chars[i] != '\0') {
      return fail(kMinorBadLength, "a string holds a NUL inside its text");
    }
  }
  v.emplace(chars, length);
  return true;
}

bool CdrDecoder::getOctets(std::vector<std::uint8_t>& v) {
  std::uint32_t n;
  if (!getULong(n)) return false;
  if (n > remaining()) {
    return fail(kMinorBadLength,
                "octet count " + std::to_string(n) + " exceeds the " +
                    std::to_string(remaining()) + " bytes left");
  }
  const std::uint8_t* p = take(n);
  v.assign(p, p + n);
  return true;
}

std::unique_ptr<CdrDecoder> CdrDecoder::getEncapsulation() {
  std::uint32_t n;
  if (!getULong(n)) return nullptr;
  if (n > remaining()) {
    fail(kMinorBadLength, "encapsulation length " + std::to_string(n) +
                              " exceeds the " + std::to_string(remaining()) +
                              " bytes left");
    return nullptr;
  }
  const std::uint8_t* p = take(n);
  auto inner = openEncapsulation(std::span<const std::uint8_t>(p, n));
  if (inner == nullptr) {
    fail(kMinorBadLength, "bad encapsulation byte order");
  }
  return inner;
}

std::unique_ptr<CdrDecoder> openEncapsulation(
    std::span<const std::uint8_t> bytes) {
  if (bytes.empty() || bytes[0] > 1) return nullptr;
  // Alignment counts from the byte-order octet, which is offset 0.
  return std::make_unique<CdrDecoder>(bytes.subspan(1), bytes[0] == 1, 1);
}

}  // namespace talvo::protocol
