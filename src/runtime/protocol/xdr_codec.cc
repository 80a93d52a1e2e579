#include "runtime/protocol/xdr_codec.h"

#include <bit>
#include <cstring>

namespace talvo::protocol {
namespace {

constexpr std::size_t padTo4(std::size_t n) { return (4 - (n & 3)) & 3; }

template <bool kNative>
std::uint32_t toWire(std::uint32_t v) {
  if constexpr (kNative || std::endian::native == std::endian::big) {
    return v;
  } else {
    return __builtin_bswap32(v);
  }
}

}  // namespace

template <bool kNative>
void BasicXdrEncoder<kNative>::put32(std::uint32_t v) {
  const std::uint32_t w = toWire<kNative>(v);
  const std::size_t at = out_.size();
  out_.resize(at + 4);
  std::memcpy(out_.data() + at, &w, 4);
}

template <bool kNative>
void BasicXdrEncoder<kNative>::putPadded(const void* data, std::size_t n) {
  const std::size_t at = out_.size();
  out_.resize(at + n + padTo4(n), 0);
  if (n != 0) std::memcpy(out_.data() + at, data, n);
}

template <bool kNative>
void BasicXdrEncoder<kNative>::putFloat(float v) {
  put32(std::bit_cast<std::uint32_t>(v));
}

template <bool kNative>
void BasicXdrEncoder<kNative>::putDouble(double v) {
  const auto bits = std::bit_cast<std::uint64_t>(v);
  if constexpr (kNative) {
    putNative8(v);
  } else {
    put32(static_cast<std::uint32_t>(bits >> 32));
    put32(static_cast<std::uint32_t>(bits));
  }
}

template <bool kNative>
void BasicXdrEncoder<kNative>::putNative8(double v) {
  const std::size_t at = out_.size();
  out_.resize(at + 8);
  std::memcpy(out_.data() + at, &v, 8);
}

template <bool kNative>
void BasicXdrEncoder<kNative>::putString(std::optional<std::string_view> v) {
  if (!v) {
    put32(0);
  } else if (v->empty()) {
    // The empty string travels as one zero byte, so that it differs from
    // the null string.
    put32(1);
    putPadded("", 1);
  } else {
    put32(static_cast<std::uint32_t>(v->size()));
    putPadded(v->data(), v->size());
  }
}

template <bool kNative>
void BasicXdrEncoder<kNative>::putOctets(std::span<const std::uint8_t> v) {
  put32(static_cast<std::uint32_t>(v.size()));
  putPadded(v.data(), v.size());
}

template <bool kNative>
bool BasicXdrDecoder<kNative>::get32(std::uint32_t& v) {
  const std::uint8_t* p = take(4);
  if (p == nullptr) return false;
  std::uint32_t w;
  std::memcpy(&w, p, 4);
  v = toWire<kNative>(w);
  return true;
}

template <bool kNative>
bool BasicXdrDecoder<kNative>::getShort(std::int16_t& v) {
  std::uint32_t w;
  if (!get32(w)) return false;
  v = static_cast<std::int16_t>(w);
  return true;
}

template <bool kNative>
bool BasicXdrDecoder<kNative>::getUShort(std::uint16_t& v) {
  std::uint32_t w;
  if (!get32(w)) return false;
  v = static_cast<std::uint16_t>(w);
  return true;
}

template <bool kNative>
bool BasicXdrDecoder<kNative>::getLong(std::int32_t& v) {
  std::uint32_t w;
  if (!get32(w)) return false;
  v = static_cast<std::int32_t>(w);
  return true;
}

template <bool kNative>
bool BasicXdrDecoder<kNative>::getChar(char& v) {
  std::uint32_t w;
  if (!get32(w)) return false;
  v = static_cast<char>(w);
  return true;
}

template <bool kNative>
bool BasicXdrDecoder<kNative>::getBoolean(bool& v) {
  std::uint32_t w;
  if (!get32(w)) return false;
  v = w != 0;
  return true;
}

template <bool kNative>
bool BasicXdrDecoder<kNative>::getOctet(std::uint8_t& v) {
  std::uint32_t w;
  if (!get32(w)) return false;
  v = static_cast<std::uint8_t>(w);
  return true;
}

template <bool kNative>
bool BasicXdrDecoder<kNative>::getFloat(float& v) {
  std::uint32_t w;
  if (!get32(w)) return false;
  v = std::bit_cast<float>(w);
  return true;
}

template <bool kNative>
bool BasicXdrDecoder<kNative>::getDouble(double& v) {
  if constexpr (kNative) {
    return getNative8(v);
  } else {
    std::uint32_t hi, lo;
    if (!get32(hi) || !get32(lo)) return false;
    v = std::bit_cast<double>((std::uint64_t{hi} << 32) | lo);
    return true;
  }
}

template <bool kNative>
bool BasicXdrDecoder<kNative>::getNative8(double& v) {
  const std::uint8_t* p = take(8);
  if (p == nullptr) return false;
  std::memcpy(&v, p, 8);
  return true;
}

template <bool kNative>
const std::uint8_t* BasicXdrDecoder<kNative>::getBlock(std::uint32_t& n) {
  if (!get32(n)) return nullptr;
  if (n > remaining()) {
    fail(kMinorBadLength, "length " + std::to_string(n) + " exceeds the " +
                              std::to_string(remaining()) + " bytes left");
    return nullptr;
  }
  const std::uint8_t* p = take(std::size_t{n} + padTo4(n));
  return p;
}

template <bool kNative>
bool BasicXdrDecoder<kNative>::getString(std::optional<std::string>& v) {
  std::uint32_t n;
  const std::uint8_t* p = getBlock(n);
  if (p == nullptr) return false;
  if (n == 0) {
    v.reset();
    return true;
  }
  const auto* chars = reinterpret_cast<const char*>(p);
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

template <bool kNative>
bool BasicXdrDecoder<kNative>::getOctets(std::vector<std::uint8_t>& v) {
  std::uint32_t n;
  const std::uint8_t* p = getBlock(n);
  if (p == nullptr) return false;
  v.assign(p, p + n);
  return true;
}

template class BasicXdrEncoder<false>;
template class BasicXdrEncoder<true>;
template class BasicXdrDecoder<false>;
template class BasicXdrDecoder<true>;

}  // namespace talvo::protocol
