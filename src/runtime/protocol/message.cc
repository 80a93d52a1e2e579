#include "runtime/protocol/message.h"

#include <cmath>

#include "runtime/protocol/xdr_codec.h"

namespace talvo::protocol {
namespace {

std::optional<std::string_view> view(const Value::Str& s) {
  return s ? std::optional<std::string_view>(*s) : std::nullopt;
}

Status decodeFailure(Decoder& in) {
  if (Status st = in.error()) return st;
  return fail<CORBA::MARSHAL>(kMinorBadLength, "", CORBA::COMPLETED_MAYBE);
}

}  // namespace

bool BindingMessage::sharesRepresentation() const {
  return std::fabs(probe - kProbeValue) < 0.000001;
}

Status decodeMessageKind(Decoder& in, MessageKind& kind) {
  std::int32_t k;
  if (!in.getLong(k)) return in.error();
  if (k < 0 || k > 3) {
    return fail<CORBA::MARSHAL>(kMinorBadLength,
                                "message kind " + std::to_string(k),
                                CORBA::COMPLETED_MAYBE);
  }
  kind = static_cast<MessageKind>(k);
  return nullptr;
}

void encodeRequestHeader(Encoder& out, const RequestHeader& h) {
  out.putLong(static_cast<std::int32_t>(MessageKind::kRequest));
  out.putULong(h.request_id);
  out.putChar(h.code1);
  out.putChar(h.code2);
  out.putBoolean(h.response_expected);
  out.putString(view(h.marker));
  out.putString(view(h.server));
  out.putString(view(h.interface_name));
  out.putString(h.operation);
  out.putOctet(h.flags);
}

Status decodeRequestHeader(Decoder& in, RequestHeader& h) {
  Value::Str operation;
  if (!in.getULong(h.request_id) || !in.getChar(h.code1) ||
      !in.getChar(h.code2) || !in.getBoolean(h.response_expected) ||
      !in.getString(h.marker) || !in.getString(h.server) ||
      !in.getString(h.interface_name) || !in.getString(operation) ||
      !in.getOctet(h.flags)) {
    return decodeFailure(in);
  }
  h.operation = operation.value_or("");
  return nullptr;
}

Status encodeRequest(Encoder& out, const RequestHeader& header,
                     const Signature& sig, std::span<const Value> args) {
  encodeRequestHeader(out, header);
  return marshalRequestArgs(out, sig, args);
}

Status encodeReply(Encoder& out, std::uint32_t request_id, const Signature& sig,
                   std::span<const Value> args, const Value& result) {
  out.putLong(static_cast<std::int32_t>(MessageKind::kReply));
  out.putULong(request_id);
  return marshalReplyArgs(out, sig, ProtocolKind::kTalvo, args, result);
}

void encodeExceptionReply(Encoder& out, std::uint32_t request_id,
                          const CORBA::Exception& e) {
  out.putLong(static_cast<std::int32_t>(MessageKind::kExceptionReply));
  out.putULong(request_id);
  const auto* sys = dynamic_cast<const CORBA::SystemException*>(&e);
  out.putLong(sys != nullptr ? 2 : 1);
  out.putString(e.name());
  if (sys == nullptr) return;
  out.putULong(sys->minor());
  out.putLong(static_cast<std::int32_t>(sys->completed()));
  out.putOctet(sys->detail() ? 1 : 0);
  if (sys->detail()) out.putString(*sys->detail());
}

Status encodeUserExceptionReply(Encoder& out, std::uint32_t request_id,
                                std::string_view name, const TypeDesc& members,
                                const Value& value) {
  out.putLong(static_cast<std::int32_t>(MessageKind::kExceptionReply));
  out.putULong(request_id);
  out.putLong(1);
  out.putString(name);
  return marshalValue(out, members, value);
}

Status decodeExceptionBody(Decoder& in, std::unique_ptr<CORBA::Exception>& e) {
  std::int32_t kind;
  Value::Str name;
  if (!in.getLong(kind) || !in.getString(name)) return decodeFailure(in);
  if (kind == 1) {
    e = std::make_unique<CORBA::UserException>(name.value_or(""));
    return nullptr;
  }
  if (kind != 2) {
    return fail<CORBA::MARSHAL>(kMinorBadLength,
                                "exception kind " + std::to_string(kind),
                                CORBA::COMPLETED_MAYBE);
  }
  std::uint32_t minor;
  std::int32_t completed;
  std::uint8_t has_detail;
  Value::Str detail;
  if (!in.getULong(minor) || !in.getLong(completed) ||
      !in.getOctet(has_detail)) {
    return decodeFailure(in);
  }
  if (has_detail > 1) {
    return fail<CORBA::MARSHAL>(kMinorBadLength,
                                "detail flag " + std::to_string(has_detail),
                                CORBA::COMPLETED_MAYBE);
  }
  if (has_detail == 1 && !in.getString(detail)) return decodeFailure(in);
  // A status outside the three known ones cannot be trusted either way.
  const auto status = completed >= 0 && completed <= 2
                          ? static_cast<CORBA::CompletionStatus>(completed)
                          : CORBA::COMPLETED_MAYBE;
  e = CORBA::makeSystemException(name.value_or(""), minor, status,
                                 std::move(detail));
  return nullptr;
}

Status decodeReply(Decoder& in, const Signature& sig, ReplyOutcome& outcome,
                   std::vector<Value>& args, Value& result) {
  MessageKind kind;
  if (Status st = decodeMessageKind(in, kind)) return st;
  if (kind != MessageKind::kReply && kind != MessageKind::kExceptionReply) {
    return fail<CORBA::MARSHAL>(
        kMinorBadLength,
        "message kind " + std::to_string(static_cast<int>(kind)),
        CORBA::COMPLETED_MAYBE);
  }
  if (!in.getULong(outcome.request_id)) return in.error();
  outcome.exception.reset();
  if (kind == MessageKind::kExceptionReply) {
    return decodeExceptionBody(in, outcome.exception);
  }
  return unmarshalReplyArgs(in, sig, ProtocolKind::kTalvo, args, result);
}

std::vector<std::uint8_t> encodeBinding(const BindingMessage& m) {
  XdrEncoder out;
  out.putLong(static_cast<std::int32_t>(MessageKind::kBinding));
  out.putULong(m.message_id);
  out.putULong(m.constant);
  out.putNative8(m.probe);
  out.putString(view(m.server_name));
  out.putString(view(m.user_name));
  out.putString(view(m.marker_pattern));
  out.putString(view(m.host_name));
  out.putString(view(m.server_method));
  out.putULong(m.pid);
  out.putLong(m.platform);
  return out.take();
}

Status decodeBinding(std::span<const std::uint8_t> body, BindingMessage& m) {
  XdrDecoder in(body);
  std::int32_t kind;
  BindingMessage got;
  if (!in.getLong(kind) ||
      kind != static_cast<std::int32_t>(MessageKind::kBinding) ||
      !in.getULong(got.message_id) || !in.getULong(got.constant) ||
      !in.getNative8(got.probe) || !in.getString(got.server_name) ||
      !in.getString(got.user_name) || !in.getString(got.marker_pattern) ||
      !in.getString(got.host_name) || !in.getString(got.server_method) ||
      !in.getULong(got.pid) || !in.getLong(got.platform)) {
    return fail<CORBA::COMM_FAILURE>(kMinorBadBinding);
  }
  m = std::move(got);
  return nullptr;
}

}  // namespace talvo::protocol
