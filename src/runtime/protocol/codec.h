// Codecs of the broker's wire encodings.
//
// An Encoder appends typed items to a byte vector; a Decoder reads them back
// from a span of bytes it does not own. Three encodings exist:
//  - "XDR": big-endian, every item a multiple of 4 bytes, small integers
//    widened to 32 bits (the broker protocol's own encoding);
//  - "NULL": the XDR layout in the sender's native byte order, used on
//    channels whose two ends share the data representation;
//  - "UNO": CDR as CORBA 2.0 defines it (natural alignment counted from the
//    start of the message, either byte order on reading, encapsulations).
//
// Decoding never reads past its span and never allocates more than the bytes
// left could hold: an item that runs short, or a count or length larger than
// the bytes left, fails the decoder. The first failure is sticky: every later
// get returns false, and error() describes the first one as CORBA::MARSHAL
// (10161 for bytes running short, 10162 for a count, length or value that
// cannot be right), completion status COMPLETED_MAYBE.
//
// Thread safety: none; one codec object belongs to one message.

#ifndef TALVO_RUNTIME_PROTOCOL_CODEC_H_
#define TALVO_RUNTIME_PROTOCOL_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/except/exception.h"

namespace talvo::protocol {

// Minor codes of decoding failures.
inline constexpr std::uint32_t kMinorShortBuffer = 10161;
inline constexpr std::uint32_t kMinorBadLength = 10162;

// The probe value of the binding message, and the tolerance of its test.
inline constexpr double kProbeValue = 1.23456789;

enum class CodecKind { kXdr, kNull, kCdr };

// "XDR", "NULL" or "UNO".
const char* codecName(CodecKind kind);

class Encoder {
 public:
  virtual ~Encoder() = default;

  virtual void putShort(std::int16_t v) = 0;
  virtual void putUShort(std::uint16_t v) = 0;
  virtual void putLong(std::int32_t v) = 0;
  virtual void putULong(std::uint32_t v) = 0;
  virtual void putChar(char v) = 0;
  virtual void putBoolean(bool v) = 0;
  virtual void putOctet(std::uint8_t v) = 0;
  virtual void putEnum(std::uint32_t v) = 0;
  virtual void putFloat(float v) = 0;
  virtual void putDouble(double v) = 0;
  // Eight bytes as they lie in this process's memory (the binding probe).
  virtual void putNative8(double v) = 0;
  // A string; nullopt is the null string (XDR: length 0; CDR has no null
  // string and writes the empty string).
  virtual void putString(std::optional<std::string_view> v) = 0;
  // A sequence of octets: count, bytes, padding as the encoding wants.
  virtual void putOctets(std::span<const std::uint8_t> v) = 0;
  // The element count of a sequence (an unsigned long).
  void putCount(std::uint32_t n) { putULong(n); }

  virtual CodecKind kind() const = 0;
  // The bytes written so far (owned by the encoder).
  const std::vector<std::uint8_t>& bytes() const { return out_; }
  std::vector<std::uint8_t> take() { return std::move(out_); }

 protected:
  std::vector<std::uint8_t> out_;
};

class Decoder {
 public:
  explicit Decoder(std::span<const std::uint8_t> in) : in_(in) {}
  virtual ~Decoder() = default;

  // Each get stores the item and returns true, or returns false (leaving the
  // target unspecified) once the decoder has failed.
  virtual bool getShort(std::int16_t& v) = 0;
  virtual bool getUShort(std::uint16_t& v) = 0;
  virtual bool getLong(std::int32_t& v) = 0;
  virtual bool getULong(std::uint32_t& v) = 0;
  virtual bool getChar(char& v) = 0;
  virtual bool getBoolean(bool& v) = 0;
  virtual bool getOctet(std::uint8_t& v) = 0;
  virtual bool getEnum(std::uint32_t& v) = 0;
  virtual bool getFloat(float& v) = 0;
  virtual bool getDouble(double& v) = 0;
  virtual bool getNative8(double& v) = 0;
  // nullopt for the null string; a string holding a NUL ends at the NUL.
  virtual bool getString(std::optional<std::string>& v) = 0;
  virtual bool getOctets(std::vector<std::uint8_t>& v) = 0;
  // Reads a sequence count and checks that `n` elements of at least
  // `min_element_size` bytes each fit in the bytes left.
  bool getCount(std::uint32_t& n, std::size_t min_element_size);

  // Bounds the memory that values built from this message may take
  // beyond their bytes on the wire (unbounded until set).
  void limitBuild(std::size_t bytes) { build_left_ = bytes; }
  // Charges `n` values of `size` bytes each before they are built; fails
  // (MARSHAL 10162) when they exceed what is left.
  bool chargeBuild(std::uint64_t n, std::size_t size);

  virtual CodecKind kind() const = 0;
  std::size_t remaining() const { return in_.size() - pos_; }
  std::size_t position() const { return pos_; }
  bool failed() const { return failed_minor_ != 0; }
  // The first failure as a new MARSHAL, or null when none happened.
  Status error() const;
  // Fails the decoder from outside (a value the caller finds impossible).
  bool fail(std::uint32_t minor, std::string detail);

 protected:
  // Reserves `n` bytes: returns their start, or null (and fails) when fewer
  // remain.
  const std::uint8_t* take(std::size_t n);

  std::span<const std::uint8_t> in_;
  std::size_t pos_ = 0;
  std::uint32_t failed_minor_ = 0;
  std::string failed_detail_;
  std::size_t build_left_ = SIZE_MAX;
};

// Makes the encoder or decoder of a kind. A CDR decoder reads big-endian
// data unless `little_endian`; `origin` is the offset of the first byte
// within the message, which CDR alignment counts from.
std::unique_ptr<Encoder> makeEncoder(CodecKind kind, std::size_t origin = 0);
std::unique_ptr<Decoder> makeDecoder(CodecKind kind,
                                     std::span<const std::uint8_t> in,
                                     bool little_endian = false,
                                     std::size_t origin = 0);

}  // namespace talvo::protocol

#endif  // TALVO_RUNTIME_PROTOCOL_CODEC_H_
