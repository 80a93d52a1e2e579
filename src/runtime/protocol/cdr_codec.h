// The CDR codec ("UNO") of IIOP, as CORBA 2.0 defines it.
//
// Every primitive is aligned on its own size (2, 4 or 8 bytes) counted from
// the start of the message, so an encoder or decoder is told where its first
// byte lies in the message (`origin`). Strings are an unsigned long length
// counting the terminating NUL, then the characters and the NUL; octets,
// chars and booleans take one byte; an enum is an unsigned long. Encoders
// write in this process's byte order and say so with byte-order flag;
// decoders read either order.
//
// An encapsulation is an octet sequence whose first octet is the byte order
// of what follows; alignment inside it counts from its own first octet.
//
// Thread safety: none.

#ifndef TALVO_RUNTIME_PROTOCOL_CDR_CODEC_H_
#define TALVO_RUNTIME_PROTOCOL_CDR_CODEC_H_

#include <bit>

#include "runtime/protocol/codec.h"

namespace talvo::protocol {

class CdrEncoder final : public Encoder {
 public:
  explicit CdrEncoder(std::size_t origin = 0, std::size_t reserve = 256);
  // An encoder writing in the given byte order.
  CdrEncoder(std::size_t origin, std::size_t reserve, bool little_endian);

  // True: this process's order is little-endian.
  static constexpr bool kLittleEndian =
      std::endian::native == std::endian::little;

  void putShort(std::int16_t v) override { putRaw(&v, 2); }
  void putUShort(std::uint16_t v) override { putRaw(&v, 2); }
  void putLong(std::int32_t v) override { putRaw(&v, 4); }
  void putULong(std::uint32_t v) override { putRaw(&v, 4); }
  void putChar(char v) override {
    out_.push_back(static_cast<std::uint8_t>(v));
  }
  void putBoolean(bool v) override { out_.push_back(v ? 1 : 0); }
  void putOctet(std::uint8_t v) override { out_.push_back(v); }
  void putEnum(std::uint32_t v) override { putRaw(&v, 4); }
  void putFloat(float v) override { putRaw(&v, 4); }
  void putDouble(double v) override { putRaw(&v, 8); }
  void putNative8(double v) override { putRaw(&v, 8); }
  void putString(std::optional<std::string_view> v) override;
  void putOctets(std::span<const std::uint8_t> v) override;
  CodecKind kind() const override { return CodecKind::kCdr; }

  // Appends an encapsulation: the octet count, then `body` (which must
  // begin with its byte-order octet, as an encoder made with origin 0 and
  // started with beginEncapsulation() produces).
  void putEncapsulation(const CdrEncoder& body);
  // Writes the byte-order octet that starts an encapsulation.
  void beginEncapsulation() { putOctet(little_endian_ ? 1 : 0); }
  // The order written (the byte-order octet to announce).
  bool littleEndian() const { return little_endian_; }

 private:
  void align(std::size_t n);
  void putRaw(const void* v, std::size_t n);

  std::size_t origin_;
  bool little_endian_ = kLittleEndian;
};

class CdrDecoder final : public Decoder {
 public:
  CdrDecoder(std::span<const std::uint8_t> in, bool little_endian,
             std::size_t origin = 0);

  bool getShort(std::int16_t& v) override { return getRaw(&v, 2); }
  bool getUShort(std::uint16_t& v) override { return getRaw(&v, 2); }
  bool getLong(std::int32_t& v) override { return getRaw(&v, 4); }
  bool getULong(std::uint32_t& v) override { return getRaw(&v, 4); }
  bool getChar(char& v) override;
  bool getBoolean(bool& v) override;
  bool getOctet(std::uint8_t& v) override;
  bool getEnum(std::uint32_t& v) override { return getRaw(&v, 4); }
  bool getFloat(float& v) override { return getRaw(&v, 4); }
  bool getDouble(double& v) override { return getRaw(&v, 8); }
  bool getNative8(double& v) override { return getRaw(&v, 8); }
  // A length of 0 (not valid CDR, but sent by some peers) reads as null.
  bool getString(std::optional<std::string>& v) override;
  bool getOctets(std::vector<std::uint8_t>& v) override;
  CodecKind kind() const override { return CodecKind::kCdr; }

  bool littleEndian() const { return little_endian_; }

  // Reads an encapsulation's octets and returns a decoder over what follows
  // its byte-order octet (in that order, alignment counted from the octet),
  // or null when this decoder fails. The returned decoder views this one's
  // input: it must not outlive it.
  std::unique_ptr<CdrDecoder> getEncapsulation();

 private:
  bool align(std::size_t n);
  bool getRaw(void* v, std::size_t n);

  bool little_endian_;
  std::size_t origin_;
};

// Reads the byte-order octet at the start of `bytes` and returns a decoder
// over the rest; null when `bytes` is empty or the octet is not 0 or 1.
std::unique_ptr<CdrDecoder> openEncapsulation(
    std::span<const std::uint8_t> bytes);

}  // namespace talvo::protocol

#endif  // TALVO_RUNTIME_PROTOCOL_CDR_CODEC_H_
