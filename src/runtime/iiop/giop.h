// GIOP 1.0 messages on byte buffers: the 12-byte message header and the
// headers of every message type, in CDR ("UNO") of either byte order.
//
// A message is the header ("GIOP", version 1.0, the byte-order octet, the
// message type, the body size) followed by the body; CDR alignment inside
// the body counts from the first byte of the message, so body encoders and
// decoders start at origin 12. Writing: MessageWriter gives the body's
// encoder (the caller writes the type's header with put*Header() and then
// any arguments), finish() puts the header in front. Reading: openMessage()
// checks the header and the size and gives a decoder over the body in the
// sender's byte order; get*Header() read the type's header from it.
//
// Reading never allocates beyond the message: a count or length larger
// than the bytes left is MARSHAL 10162, bytes running short MARSHAL 10161
// (both COMPLETED_MAYBE); a first word other than "GIOP" is COMM_FAILURE
// 10089.
//
// Thread safety: pure functions and plain values.

#ifndef TALVO_RUNTIME_IIOP_GIOP_H_
#define TALVO_RUNTIME_IIOP_GIOP_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/except/exception.h"
#include "runtime/protocol/cdr_codec.h"
#include "runtime/protocol/frame.h"
#include "runtime/protocol/object_ref.h"

namespace talvo::iiop {

inline constexpr std::size_t kHeaderSize = 12;

// Minor codes of the broker's own IIOP exception.
inline constexpr std::uint32_t kMinorForwarded = 10601;     // LOCATION_FORWARD
inline constexpr std::uint32_t kMinorMessageError = 10602;  // MessageError
inline constexpr std::uint32_t kMinorClosed = 10604;        // CloseConnection
// COMM_FAILURE minor of a message that is not GIOP, or a body-less message
// of a type that needs a body.
inline constexpr std::uint32_t kMinorNotGiop = 10089;

enum class MsgType : std::uint8_t {
  kRequest = 0,
  kReply = 1,
  kCancelRequest = 2,
  kLocateRequest = 3,
  kLocateReply = 4,
  kCloseConnection = 5,
  kMessageError = 6,
};

struct MessageHeader {
  std::uint8_t major = 1;
  std::uint8_t minor = 0;
  bool little_endian = protocol::CdrEncoder::kLittleEndian;
  std::uint8_t type = 0;   // a MsgType when at most 6
  std::uint32_t size = 0;  // body bytes

  // Version 1.0: the only one this run time speaks.
  bool supported() const { return major == 1 && minor == 0; }
};

struct ServiceContext {
  std::uint32_t context_id = 0;
  std::vector<std::uint8_t> context_data;
};
using ServiceContextList = std::vector<ServiceContext>;

struct RequestHeader {
  ServiceContextList service_context;
  std::uint32_t request_id = 0;
  bool response_expected = true;
  std::vector<std::uint8_t> object_key;
  std::string operation;
  std::vector<std::uint8_t> requesting_principal;
};

enum class ReplyStatus : std::uint32_t {
  kNoException = 0,
  kUserException = 1,
  kSystemException = 2,
  kLocationForward = 3,
};

struct ReplyHeader {
  ServiceContextList service_context;
  std::uint32_t request_id = 0;
  ReplyStatus reply_status = ReplyStatus::kNoException;
};

// The body of a SYSTEM_EXCEPTION reply.
struct SystemExceptionBody {
  std::string id;  // "IDL:omg.org/CORBA/<NAME>:1.0"
  std::uint32_t minor = 0;
  CORBA::CompletionStatus completed = CORBA::COMPLETED_NO;
};

struct CancelRequestHeader {
  std::uint32_t request_id = 0;
};

struct LocateRequestHeader {
  std::uint32_t request_id = 0;
  std::vector<std::uint8_t> object_key;
};

enum class LocateStatus : std::uint32_t {
  kUnknownObject = 0,
  kObjectHere = 1,
  kObjectForward = 2,
};

struct LocateReplyHeader {
  std::uint32_t request_id = 0;
  LocateStatus locate_status = LocateStatus::kUnknownObject;
};

// Reads the 12-byte header at the start of `message` (no check of the
// version or type). Fewer than 12 bytes: MARSHAL 10161; a first word other
// than "GIOP": COMM_FAILURE 10089.
Status decodeHeader(ByteView message, MessageHeader& out);
// The 12 header bytes for a body of `size` bytes.
Bytes encodeHeader(MsgType type, std::uint32_t size,
                   bool little_endian = protocol::CdrEncoder::kLittleEndian,
                   std::uint8_t major = 1, std::uint8_t minor = 0);

// A whole message: the header, then what the caller writes into body().
class MessageWriter {
 public:
  explicit MessageWriter(
      MsgType type, bool little_endian = protocol::CdrEncoder::kLittleEndian);
  protocol::CdrEncoder& body() { return body_; }
  // Header and body; the writer is spent.
  Bytes finish();

 private:
  MsgType type_;
  protocol::CdrEncoder body_;
};

// A message's header and a decoder over its body. The decoder views
// `message`, which must outlive it.
struct MessageReader {
  MessageHeader header;
  std::unique_ptr<protocol::CdrDecoder> body;
};
// Checks the header (decodeHeader) and that the size it gives is the
// number of bytes after it (more: MARSHAL 10161, fewer: MARSHAL 10162).
Status openMessage(ByteView message, MessageReader& out);

void putRequestHeader(protocol::CdrEncoder& out, const RequestHeader& h);
void putReplyHeader(protocol::CdrEncoder& out, const ReplyHeader& h);
void putSystemException(protocol::CdrEncoder& out,
                        const SystemExceptionBody& b);
void putCancelRequestHeader(protocol::CdrEncoder& out,
                            const CancelRequestHeader& h);
void putLocateRequestHeader(protocol::CdrEncoder& out,
                            const LocateRequestHeader& h);
void putLocateReplyHeader(protocol::CdrEncoder& out,
                          const LocateReplyHeader& h);
// An object reference as a reply or locate reply carries it inline: type
// id and one IIOP 1.0 profile (host, port, object key).
void putIor(protocol::CdrEncoder& out, const protocol::IorProfile& ior);

// Each reads what the matching put wrote; a failure is the decoder's
// MARSHAL, or MARSHAL 10162 for a reply or locate status out of range (a
// completion status out of range reads as COMPLETED_MAYBE).
Status getRequestHeader(protocol::CdrDecoder& in, RequestHeader& h);
Status getReplyHeader(protocol::CdrDecoder& in, ReplyHeader& h);
Status getSystemException(protocol::CdrDecoder& in, SystemExceptionBody& b);
Status getCancelRequestHeader(protocol::CdrDecoder& in, CancelRequestHeader& h);
Status getLocateRequestHeader(protocol::CdrDecoder& in, LocateRequestHeader& h);
Status getLocateReplyHeader(protocol::CdrDecoder& in, LocateReplyHeader& h);
// Reads a reference: its type id and first IIOP profile (other profiles
// are skipped). No IIOP profile: MARSHAL 10172.
Status getIor(protocol::CdrDecoder& in, protocol::IorProfile& ior);

// What a connection does with one incoming message, by the checks on its
// header, in this order: a first word other than "GIOP" closes the
// connection (COMM_FAILURE 10089); a version other than 1.0 is answered
// with a MessageError and dropped; a MessageError closes it with IIOP
// 10602, a CloseConnection with IIOP 10604 and `server_name` as detail
// (with or without a body); any other body-less message closes it with
// COMM_FAILURE 10089; a type above 6 is answered with a MessageError and
// dropped. Anything else is to be served.
struct Verdict {
  enum Action { kServe, kMessageError, kClose } action = kServe;
  Status reason;  // kClose: why
  MessageHeader header;
};
Verdict checkMessage(ByteView message, const std::string& server_name);

// Messages without a body.
Bytes messageError(bool little_endian = protocol::CdrEncoder::kLittleEndian);
Bytes closeConnection(bool little_endian = protocol::CdrEncoder::kLittleEndian);

}  // namespace talvo::iiop

#endif  // TALVO_RUNTIME_IIOP_GIOP_H_
