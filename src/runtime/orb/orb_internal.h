// Helpers shared by the Orb's source files.

#ifndef TALVO_RUNTIME_ORB_ORB_INTERNAL_H_
#define TALVO_RUNTIME_ORB_ORB_INTERNAL_H_

#include <cstdint>

#include "runtime/orb/session.h"
#include "runtime/protocol/codec.h"
#include "runtime/protocol/frame.h"
#include "runtime/transport/channel.h"

namespace talvo::orb_internal {

// Reads the message kind and, when present, the request id that follows it,
// in the channel's encoding. False when the frame is shorter than a kind.
bool peekReply(ByteView frame, protocol::CodecKind codec, std::int32_t& kind,
               std::uint32_t& id);

// "NULL" on an optimised channel, else "XDR".
protocol::CodecKind codecOf(const Session& session);

}  // namespace talvo::orb_internal

#endif  // TALVO_RUNTIME_ORB_ORB_INTERNAL_H_
