#include "runtime/orb/connection.h"

namespace talvo {
namespace {

// Consumed bytes are dropped from the front of the buffer once this many
// have gathered (or at once when nothing is left), so that a long stream
// of small messages neither grows the buffer nor moves it per message.
constexpr std::size_t kCompactAfter = 64 * 1024;
// An emptied buffer larger than this is given back, so that idle
// connections hold next to nothing.
constexpr std::size_t kKeepCapacity = 16 * 1024;

}  // namespace

MessageReader::MessageReader(std::uint64_t max_size, bool outgoing)
    : assembler_(talvoFrameFormat(), max_size), decided_(outgoing) {}

void MessageReader::append(ByteView bytes) {
  pending_.insert(pending_.end(), bytes.begin(), bytes.end());
}

MessageReader::Next MessageReader::next(Bytes& out) {
  ByteView view(pending_.data() + pending_pos_, pending_.size() - pending_pos_);
  if (!decided_) {
    if (view.size() < 4) return Next::kNeedMore;
    protocol_ = detectProtocol(view);
    if (protocol_ == WireProtocol::kIiop) {
      assembler_.setFormat(giopFrameFormat());
    }
    decided_ = true;
  }
  const std::size_t before = view.size();
  FrameAssembler::Result result = assembler_.feed(view);
  pending_pos_ += before - view.size();
  if (pending_pos_ == pending_.size()) {
    if (pending_.capacity() > kKeepCapacity) {
      Bytes().swap(pending_);
    } else {
      pending_.clear();
    }
    pending_pos_ = 0;
  } else if (pending_pos_ >= kCompactAfter) {
    pending_.erase(pending_.begin(), pending_.begin() + pending_pos_);
    pending_pos_ = 0;
  }
  switch (result) {
    case FrameAssembler::Result::kFrame:
      out = assembler_.takeFrame();
      return Next::kMessage;
    case FrameAssembler::Result::kTooLarge:
      return Next::kTooLarge;
    case FrameAssembler::Result::kNeedMore:
      break;
  }
  return Next::kNeedMore;
}

}  // namespace talvo
