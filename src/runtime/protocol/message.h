// The messages of the broker protocol ("Talvo-XDR"): the frame bodies that
// travel between two broker processes (the 4-byte length framing around
// them belongs to the transport).
//
// Every body begins with its kind as a long: 0 request, 1 reply, 2 exception
// reply, 3 binding message. A request carries its header and then the in and
// inout arguments; a reply its request id, the out and inout arguments and
// the result; an exception reply its request id and the exception body; a
// binding message introduces a process to its peer.
//
// The functions here write and read bodies with a given codec (XDR, or
// "NULL" on an optimised channel; the binding message is always XDR). Reading
// never trusts a count or length beyond the bytes of the body.
//
// Thread safety: pure functions; RequestIds is not thread-safe.

#ifndef TALVO_RUNTIME_PROTOCOL_MESSAGE_H_
#define TALVO_RUNTIME_PROTOCOL_MESSAGE_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "runtime/except/exception.h"
#include "runtime/protocol/codec.h"
#include "runtime/protocol/signature.h"
#include "runtime/protocol/value.h"

namespace talvo {
class RuntimeConfig;
}

namespace talvo::protocol {

enum class MessageKind : std::int32_t {
  kRequest = 0,
  kReply = 1,
  kExceptionReply = 2,
  kBinding = 3,
};

// Minor code of a failed binding exchange (COMM_FAILURE).
inline constexpr std::uint32_t kMinorBadBinding = 10090;
// The platform index of this build, sent in binding messages.
inline constexpr std::int32_t kPlatformIndex = 11;

struct RequestHeader {
  std::uint32_t request_id = 0;
  // The first two characters of the target's string reference; receivers
  // ignore them.
  char code1 = ':';
  char code2 = '\\';
  bool response_expected = true;
  Value::Str marker;          // the target object's marker
  Value::Str server;          // the target's server name (ignored on receipt)
  Value::Str interface_name;  // the target's interface
  std::string operation;
  std::uint8_t flags = 0;  // always 0; ignored on receipt
  // IIOP only (never sent in the broker protocol): the object key as it
  // came, the target's string reference and its NUL.
  std::vector<std::uint8_t> object_key;
};

struct BindingMessage {
  std::uint32_t message_id = 0;
  std::uint32_t constant = 1;
  double probe = 0.0;  // kProbeValue when the sender would optimise
  Value::Str server_name;
  Value::Str user_name;
  Value::Str marker_pattern;
  Value::Str host_name;
  Value::Str server_method;
  std::uint32_t pid = 0;
  std::int32_t platform = kPlatformIndex;

  // True when the probe, read in this process's representation, lies
  // within 0.000001 of kProbeValue: both ends share the representation.
  bool sharesRepresentation() const;
};

// Reads the kind that starts every body. A kind outside 0 to 3 is a
// MARSHAL 10162 (the transport answers it with its own framing error).
Status decodeMessageKind(Decoder& in, MessageKind& kind);

// Writes kind 0 and the header.
void encodeRequestHeader(Encoder& out, const RequestHeader& header);
// Reads the header that follows the kind.
Status decodeRequestHeader(Decoder& in, RequestHeader& header);
// A whole request body: header and the in and inout arguments of `sig`.
Status encodeRequest(Encoder& out, const RequestHeader& header,
                     const Signature& sig, std::span<const Value> args);

// A whole reply body: kind 1, the id, the out and inout arguments and the
// result in the broker protocol's order.
Status encodeReply(Encoder& out, std::uint32_t request_id, const Signature& sig,
                   std::span<const Value> args, const Value& result);
// Kind 2, the id and the exception body. For a user exception only its kind
// and name are written; the caller appends its members.
void encodeExceptionReply(Encoder& out, std::uint32_t request_id,
                          const CORBA::Exception& e);
// Kind 2, the id and a user exception with its members, written as the
// struct `members` describes (a struct type; `value` its member list).
Status encodeUserExceptionReply(Encoder& out, std::uint32_t request_id,
                                std::string_view name, const TypeDesc& members,
                                const Value& value);
// Reads an exception body (after the id). A system exception comes back as
// its own class (its name in scoped form or as a repository id), a system
// name that no class has as UNKNOWN; a user exception as UserException
// with the name (its members, if any, follow in `in`).
Status decodeExceptionBody(Decoder& in, std::unique_ptr<CORBA::Exception>& e);

// What a reply body said.
struct ReplyOutcome {
  std::uint32_t request_id = 0;
  // The exception of an exception reply, or null for a normal reply.
  std::unique_ptr<CORBA::Exception> exception;
};
// Reads a reply or exception reply body. On a normal reply the out and
// inout arguments of `sig` go into `args` and the result into `result`. A
// body of another kind is a MARSHAL 10162.
Status decodeReply(Decoder& in, const Signature& sig, ReplyOutcome& outcome,
                   std::vector<Value>& args, Value& result);

// The binding message as a whole XDR body, and back. decodeBinding gives
// COMM_FAILURE 10090 for any body that is not a well-formed binding message.
std::vector<std::uint8_t> encodeBinding(const BindingMessage& m);
Status decodeBinding(std::span<const std::uint8_t> body, BindingMessage& m);

// This process's binding message: QV_SERVER_NAME, the user name,
// QV_MARKER_PATTERN, the qualified host name and QV_SERVER_METHOD of
// `config`, the given process id, and the probe when `optimise` is on.
BindingMessage localBinding(RuntimeConfig& config, std::uint32_t pid,
                            bool optimise, std::uint32_t message_id);

// Request ids of one process: 1, 2, ... (0 is skipped on wrap-around).
class RequestIds {
 public:
  std::uint32_t next() {
    if (++last_ == 0) ++last_;
    return last_;
  }

 private:
  std::uint32_t last_ = 0;
};

}  // namespace talvo::protocol

#endif  // TALVO_RUNTIME_PROTOCOL_MESSAGE_H_
