#include "runtime/protocol/frame.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace talvo {
namespace {

std::uint32_t readBigEndian32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
         (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
}

std::uint64_t talvoBodyLength(ByteView header) {
  return readBigEndian32(header.data());
}

std::uint64_t giopBodyLength(ByteView header) {
  const std::uint8_t* p = header.data() + 8;
  if (header[6] & 1) {  // little-endian sender
    return (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[1]} << 8) | std::uint32_t{p[0]};
  }
  return readBigEndian32(p);
}

// Body storage grows with what arrives, never ahead of it by more than
// this, so that a header alone cannot make the process reserve the limit.
constexpr std::size_t kInitialBodyReserve = 64 * 1024;

}  // namespace

std::uint32_t parseMaxMessageSize(const std::optional<std::string>& value) {
  if (!value || value->empty()) return kDefaultMaxMessageSize;
  std::uint32_t parsed = 0;
  const char* first = value->data();
  const char* last = first + value->size();
  auto [end, ec] = std::from_chars(first, last, parsed, 10);
  if (ec != std::errc() || end != last) return kDefaultMaxMessageSize;
  return parsed <= 8192 ? kDefaultMaxMessageSize : parsed;
}

const FrameFormat& talvoFrameFormat() {
  static const FrameFormat format{4, &talvoBodyLength, false};
  return format;
}

const FrameFormat& giopFrameFormat() {
  static const FrameFormat format{12, &giopBodyLength, true};
  return format;
}

FrameAssembler::FrameAssembler(const FrameFormat& format,
                               std::uint64_t max_size)
    : format_(&format), max_size_(max_size) {}

FrameAssembler::Result FrameAssembler::feed(ByteView& input) {
  if (refused_) return Result::kTooLarge;
  if (complete_) return Result::kFrame;
  while (!input.empty()) {
    if (!in_body_) {
      std::size_t take =
          std::min(format_->header_size - header_.size(), input.size());
      header_.insert(header_.end(), input.begin(), input.begin() + take);
      input = input.subspan(take);
      if (header_.size() < format_->header_size) break;
      wanted_ = format_->body_length(header_);
      if (wanted_ > max_size_) {
        purported_ = wanted_;
        refused_ = true;
        return Result::kTooLarge;
      }
      in_body_ = true;
      body_.clear();
      if (format_->keep_header) body_ = header_;
      body_.reserve(body_.size() +
                    std::min<std::uint64_t>(wanted_, kInitialBodyReserve));
    }
    std::size_t take = static_cast<std::size_t>(
        std::min<std::uint64_t>(wanted_, input.size()));
    if (body_.size() + take > body_.capacity()) {
      // Doubling, but never beyond the announced size.
      body_.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(
          std::max(body_.capacity() * 2, body_.size() + take),
          body_.size() + wanted_)));
    }
    body_.insert(body_.end(), input.begin(), input.begin() + take);
    input = input.subspan(take);
    wanted_ -= take;
    if (wanted_ == 0) {
      complete_ = true;
      return Result::kFrame;
    }
  }
  return Result::kNeedMore;
}

Bytes FrameAssembler::takeFrame() {
  Bytes frame = std::move(body_);
  body_.clear();
  header_.clear();
  in_body_ = false;
  complete_ = false;
  return frame;
}

Bytes makeTalvoFrame(ByteView body) {
  Bytes frame(4 + body.size());
  std::uint32_t n = static_cast<std::uint32_t>(body.size());
  frame[0] = static_cast<std::uint8_t>(n >> 24);
  frame[1] = static_cast<std::uint8_t>(n >> 16);
  frame[2] = static_cast<std::uint8_t>(n >> 8);
  frame[3] = static_cast<std::uint8_t>(n);
  std::copy(body.begin(), body.end(), frame.begin() + 4);
  return frame;
}

std::optional<std::int32_t> frameKind(ByteView body, bool native) {
  if (body.size() < 4) return std::nullopt;
  if (native) {
    std::int32_t kind;
    std::memcpy(&kind, body.data(), sizeof kind);
    return kind;
  }
  return static_cast<std::int32_t>(readBigEndian32(body.data()));
}

WireProtocol detectProtocol(ByteView first_bytes) {
  static constexpr std::uint8_t kGiop[4] = {'G', 'I', 'O', 'P'};
  if (first_bytes.size() >= 4 &&
      std::equal(kGiop, kGiop + 4, first_bytes.begin())) {
    return WireProtocol::kIiop;
  }
  return WireProtocol::kTalvo;
}

}  // namespace talvo
