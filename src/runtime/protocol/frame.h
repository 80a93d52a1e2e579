// Framing of messages on a byte stream.
//
// A broker-protocol frame is a 4-byte big-endian body length N followed by
// N body bytes; the body begins with the message kind (a 4-byte signed
// big-endian integer, 0 to 3). FrameAssembler rebuilds frames from bytes
// that arrive in pieces of any size, so a connection can be read whenever
// its socket has data without ever waiting for the rest of a frame. The
// frame format is a parameter so that IIOP (GIOP) framing can reuse it.
//
// This is pure code: no sockets, no clocks. Thread safety: none; one
// assembler belongs to one connection.

#ifndef TALVO_RUNTIME_PROTOCOL_FRAME_H_
#define TALVO_RUNTIME_PROTOCOL_FRAME_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace talvo {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// The frame-size limit when QV_MAX_MESSAGE_SIZE gives none (8 MiB).
inline constexpr std::uint32_t kDefaultMaxMessageSize = 8388608;

// The limit for a value of QV_MAX_MESSAGE_SIZE: an unsigned decimal number
// above 8192; anything else (absent, 8192 or less, not a number, more than
// 32 bits) gives kDefaultMaxMessageSize.
std::uint32_t parseMaxMessageSize(const std::optional<std::string>& value);

// How a frame's header gives the length of what follows it.
struct FrameFormat {
  std::size_t header_size;
  // The byte count that follows the header (only `header_size` bytes given).
  std::uint64_t (*body_length)(ByteView header);
  // Whether a completed frame keeps its header in front of the body.
  bool keep_header;
};

// The broker protocol's format: a 4-byte big-endian length, header dropped.
const FrameFormat& talvoFrameFormat();
// GIOP 1.0: a 12-byte header with the size at offset 8 in the byte order of
// the flag at offset 6; the header is kept.
const FrameFormat& giopFrameFormat();

class FrameAssembler {
 public:
  enum class Result {
    kNeedMore,  // all input consumed, no frame complete
    kFrame,     // a frame is complete: takeFrame()
    kTooLarge,  // the header announced more than the limit: purportedSize()
  };

  FrameAssembler(const FrameFormat& format, std::uint64_t max_size);

  // Consumes bytes from the front of `input` (which is advanced) until a
  // frame completes, the limit is exceeded, or the input runs out. After
  // kTooLarge the assembler takes no more input (the connection must go).
  Result feed(ByteView& input);
  // The completed frame; the assembler starts on the next one.
  Bytes takeFrame();

  // The length that the refused header announced.
  std::uint64_t purportedSize() const { return purported_; }
  // Bytes kept for the frame being gathered.
  std::size_t held() const { return header_.capacity() + body_.capacity(); }
  // True while part of a frame has arrived.
  bool midFrame() const { return !header_.empty() || in_body_; }
  std::uint64_t maxSize() const { return max_size_; }
  void setFormat(const FrameFormat& format) { format_ = &format; }

 private:
  const FrameFormat* format_;
  std::uint64_t max_size_;
  Bytes header_;
  Bytes body_;
  std::uint64_t wanted_ = 0;  // body bytes still missing
  std::uint64_t purported_ = 0;
  bool in_body_ = false;
  bool complete_ = false;
  bool refused_ = false;
};

// Builds a broker-protocol frame: the 4-byte length, then `body`.
Bytes makeTalvoFrame(ByteView body);

// The message kind at the start of a body, when it has 4 bytes. `native`:
// the body is in this process's byte order (an optimised channel's "NULL"
// codec), else big-endian XDR.
std::optional<std::int32_t> frameKind(ByteView body, bool native = false);
// Kinds 0 (request) to 3 (binding message).
inline bool isKnownKind(std::int32_t kind) { return kind >= 0 && kind <= 3; }

// The protocols told apart by the first four bytes of a connection.
enum class WireProtocol { kTalvo, kIiop };
// "GIOP" is IIOP; anything else (including fewer than 4 bytes) the broker
// protocol.
WireProtocol detectProtocol(ByteView first_bytes);

}  // namespace talvo

#endif  // TALVO_RUNTIME_PROTOCOL_FRAME_H_
