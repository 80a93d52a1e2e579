// The Orb's reading side of its connections: bytes gathered into messages
// by the connection's reader, GIOP messages handed to the IIOP protocol
// object, and the broker protocol's checks on each frame (the size limit
// with its trace lines, the integrity check, the message kind) before the
// frame is served.

#include "platform/errors.h"
#include "runtime/orb/orb.h"
#include "runtime/transport/socket_failure.h"

namespace talvo {

// At most the loop's requests per pass are served per call; the loop calls
// again in a later pass for the rest, in turn with other connections.
DataState Orb::onData(Channel& channel, ByteView bytes) {
  // Kept alive while its messages are served: a handler may run the loop,
  // during which the channel can close.
  std::shared_ptr<Session> session = sessionOf(channel);
  MessageReader& reader = *session->reader;
  reader.append(bytes);
  Bytes message;
  const std::size_t per_pass = loop_.limits().requests_per_pass;
  for (std::size_t served = 0; channel.connected(); ++served) {
    // The share is used up: more to serve only if bytes are left.
    if (served >= per_pass) return {reader.held(), false, reader.partial()};
    const MessageReader::Next next = reader.next(message);
    if (reader.protocol() == WireProtocol::kIiop &&
        session->info.protocol != protocol::ProtocolKind::kIiop) {
      if (iiop_ == nullptr) {
        loop_.close(channel, fail<CORBA::BAD_PARAM>(kMinorNoProtocol, "IIOP"));
        return {};
      }
      session->info.protocol = protocol::ProtocolKind::kIiop;
    }
    if (next == MessageReader::Next::kNeedMore) {
      return {reader.held(), reader.partial(), false};
    }
    if (next == MessageReader::Next::kTooLarge) {
      refuseTooLarge(channel, *session);
      return {};
    }
    if (session->info.protocol == protocol::ProtocolKind::kIiop) {
      if (iiop_ != nullptr) iiop_->onMessage(channel, message);
    } else {
      receiveTalvo(channel, *session, message);
    }
  }
  return {};
}

void Orb::receiveTalvo(Channel& channel, Session& session, ByteView frame) {
  if (integrity_) {
    if (std::optional<std::string> failure = integrity_(frame)) {
      loop_.close(channel,
                  fail<CORBA::COMM_FAILURE>(kMinorIntegrity, *failure));
      return;
    }
  }
  // A frame of no known message kind is dropped; the channel stays open.
  std::optional<std::int32_t> kind = frameKind(frame, session.optimised());
  if (!kind || !isKnownKind(*kind)) return;
  onFrame(channel, session, frame);
}

void Orb::refuseTooLarge(Channel& channel, const Session& session) {
  const MessageReader& reader = *session.reader;
  const std::string who = session.serverName().empty() ? channel.description()
                                                       : session.serverName();
  const std::string host = session.hostName().empty()
                               ? channel.peerAddress().dotted()
                               : session.hostName();
  trace("Got too large a message, from client: " + who + ", on host: " + host +
            ".",
        false);
  trace("Purported size was: " + std::to_string(reader.purportedSize()) +
            " Max allowed is " + std::to_string(reader.maxSize()),
        false);
  trace("Closing connection.", false);
  loop_.close(channel, fail<CORBA::COMM_FAILURE>(kMinorFrame));
}

}  // namespace talvo
