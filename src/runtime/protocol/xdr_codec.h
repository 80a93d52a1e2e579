// The XDR codec of the broker protocol and its "NULL" variant.
//
// XDR writes every item big-endian in units of 4 bytes: short, unsigned
// short, char, boolean, octet and enum are widened to 32 bits (signed types
// sign-extended), a double is 8 bytes high half first, a string is its
// length, its characters and zero padding to 4 (the null string is length 0;
// the empty string is length 1 and one zero byte), a sequence of octets is
// its count, the bytes and padding. The "NULL" codec keeps the same layout
// in this process's native byte order, for channels whose peer shares it.
//
// Thread safety: none.

#ifndef TALVO_RUNTIME_PROTOCOL_XDR_CODEC_H_
#define TALVO_RUNTIME_PROTOCOL_XDR_CODEC_H_

#include "runtime/protocol/codec.h"

namespace talvo::protocol {

// kNative false: XDR; true: the "NULL" codec.
template <bool kNative>
class BasicXdrEncoder final : public Encoder {
 public:
  // Starts with room for `reserve` bytes.
  explicit BasicXdrEncoder(std::size_t reserve = 256) { out_.reserve(reserve); }

  void putShort(std::int16_t v) override {
    put32(static_cast<std::int32_t>(v));
  }
  void putUShort(std::uint16_t v) override { put32(v); }
  void putLong(std::int32_t v) override {
    put32(static_cast<std::uint32_t>(v));
  }
  void putULong(std::uint32_t v) override { put32(v); }
  void putChar(char v) override {
    put32(static_cast<std::uint32_t>(static_cast<std::int32_t>(v)));
  }
  void putBoolean(bool v) override { put32(v ? 1 : 0); }
  void putOctet(std::uint8_t v) override { put32(v); }
  void putEnum(std::uint32_t v) override { put32(v); }
  void putFloat(float v) override;
  void putDouble(double v) override;
  void putNative8(double v) override;
  void putString(std::optional<std::string_view> v) override;
  void putOctets(std::span<const std::uint8_t> v) override;
  CodecKind kind() const override {
    return kNative ? CodecKind::kNull : CodecKind::kXdr;
  }

 private:
  void put32(std::uint32_t v);
  void putPadded(const void* data, std::size_t n);
};

template <bool kNative>
class BasicXdrDecoder final : public Decoder {
 public:
  explicit BasicXdrDecoder(std::span<const std::uint8_t> in) : Decoder(in) {}

  bool getShort(std::int16_t& v) override;
  bool getUShort(std::uint16_t& v) override;
  bool getLong(std::int32_t& v) override;
  bool getULong(std::uint32_t& v) override { return get32(v); }
  bool getChar(char& v) override;
  bool getBoolean(bool& v) override;
  bool getOctet(std::uint8_t& v) override;
  bool getEnum(std::uint32_t& v) override { return get32(v); }
  bool getFloat(float& v) override;
  bool getDouble(double& v) override;
  bool getNative8(double& v) override;
  bool getString(std::optional<std::string>& v) override;
  bool getOctets(std::vector<std::uint8_t>& v) override;
  CodecKind kind() const override {
    return kNative ? CodecKind::kNull : CodecKind::kXdr;
  }

 private:
  bool get32(std::uint32_t& v);
  // Reads a length-prefixed byte block with its padding.
  const std::uint8_t* getBlock(std::uint32_t& n);
};

using XdrEncoder = BasicXdrEncoder<false>;
using XdrDecoder = BasicXdrDecoder<false>;
using NullEncoder = BasicXdrEncoder<true>;
using NullDecoder = BasicXdrDecoder<true>;

extern template class BasicXdrEncoder<false>;
extern template class BasicXdrEncoder<true>;
extern template class BasicXdrDecoder<false>;
extern template class BasicXdrDecoder<true>;

}  // namespace talvo::protocol

#endif  // TALVO_RUNTIME_PROTOCOL_XDR_CODEC_H_
