// Fuzz target for GIOP message decoding: any bytes, read as a message of
// the type its header names, must decode or fail cleanly; a request header
// that decodes must encode back to one that decodes equal.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "runtime/iiop/exception_ids.h"
#include "runtime/iiop/giop.h"

using namespace talvo::iiop;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const talvo::ByteView message(data, size);
  (void)checkMessage(message, "fuzz");
  MessageReader r;
  if (openMessage(message, r) != nullptr) return 0;
  talvo::protocol::CdrDecoder& in = *r.body;
  talvo::protocol::IorProfile ior;
  switch (static_cast<MsgType>(r.header.type)) {
    case MsgType::kRequest: {
      RequestHeader h, back;
      if (getRequestHeader(in, h) != nullptr) break;
      MessageWriter w(MsgType::kRequest, !r.header.little_endian);
      putRequestHeader(w.body(), h);
      const talvo::Bytes again = w.finish();
      MessageReader r2;
      if (openMessage(again, r2) != nullptr ||
          getRequestHeader(*r2.body, back) != nullptr ||
          back.object_key != h.object_key || back.operation != h.operation ||
          back.requesting_principal != h.requesting_principal) {
        std::abort();
      }
      break;
    }
    case MsgType::kReply: {
      ReplyHeader h;
      SystemExceptionBody b;
      if (getReplyHeader(in, h) != nullptr) break;
      if (h.reply_status == ReplyStatus::kSystemException &&
          getSystemException(in, b) == nullptr &&
          systemExceptionFrom(b) == nullptr) {
        std::abort();
      }
      if (h.reply_status == ReplyStatus::kLocationForward) getIor(in, ior);
      break;
    }
    case MsgType::kLocateRequest: {
      LocateRequestHeader h;
      getLocateRequestHeader(in, h);
      break;
    }
    case MsgType::kLocateReply: {
      LocateReplyHeader h;
      if (getLocateReplyHeader(in, h) == nullptr) getIor(in, ior);
      break;
    }
    default:
      break;
  }
  if (in.position() > r.header.size) std::abort();
  return 0;
}
