// MessageReader: the Orb's reading side of one connection. Bytes go in as
// the transport delivers them, in pieces of any size; whole messages of
// the connection's protocol come out.
//
// On an accepted connection the first four bytes decide the protocol:
// "GIOP" is IIOP, whose messages are gathered with their 12-byte GIOP
// header (the size at offset 8, in the byte order of the flag at offset 6);
// anything else is the broker protocol, framed by a 4-byte big-endian body
// length that is dropped. A connection this process made speaks the broker
// protocol from the start. A header announcing more than the limit stops
// the reader for good: the connection must go.
//
// Pure code over byte buffers: no sockets. Thread safety: none; a reader
// belongs to its connection's session.

#ifndef TALVO_RUNTIME_ORB_CONNECTION_H_
#define TALVO_RUNTIME_ORB_CONNECTION_H_

#include <cstddef>
#include <cstdint>

#include "runtime/protocol/frame.h"

namespace talvo {

class MessageReader {
 public:
  enum class Next {
    kNeedMore,  // no whole message yet
    kMessage,   // `out` holds the next message
    kTooLarge,  // a header announced more than the limit
  };

  // `outgoing`: this process made the connection (broker protocol).
  MessageReader(std::uint64_t max_size, bool outgoing);

  // Keeps a copy of `bytes`.
  void append(ByteView bytes);
  // The next whole message, in order of arrival.
  Next next(Bytes& out);

  // Bytes kept for the connection: received and not yet served, and the
  // message being gathered.
  std::size_t held() const { return pending_.capacity() + assembler_.held(); }
  // Part of a message has come, the rest not yet (after kNeedMore); bytes
  // of a further message are kept (after kMessage).
  bool partial() const {
    return assembler_.midFrame() || pending_pos_ < pending_.size();
  }

  // Whether the protocol is decided yet, and which it is.
  bool decided() const { return decided_; }
  WireProtocol protocol() const { return protocol_; }
  // The size a refused header announced, and the limit.
  std::uint64_t purportedSize() const { return assembler_.purportedSize(); }
  std::uint64_t maxSize() const { return assembler_.maxSize(); }

 private:
  FrameAssembler assembler_;
  Bytes pending_;  // received, not yet fed to the assembler
  std::size_t pending_pos_ = 0;
  bool decided_;
  WireProtocol protocol_ = WireProtocol::kTalvo;
};

}  // namespace talvo

#endif  // TALVO_RUNTIME_ORB_CONNECTION_H_
