#include "runtime/iiop/giop.h"

#include <algorithm>

namespace talvo::iiop {
namespace {

using protocol::CdrDecoder;
using protocol::CdrEncoder;

constexpr std::uint8_t kMagic[4] = {'G', 'I', 'O', 'P'};
constexpr std::uint32_t kTagInternetIop = 0;

Status decodeFailure(const CdrDecoder& in) {
  if (Status st = in.error()) return st;
  return fail<CORBA::MARSHAL>(protocol::kMinorShortBuffer, std::nullopt,
                              CORBA::COMPLETED_MAYBE);
}

Status badValue(const char* what, std::uint32_t value) {
  return fail<CORBA::MARSHAL>(protocol::kMinorBadLength,
                              std::string(what) + " " + std::to_string(value),
                              CORBA::COMPLETED_MAYBE);
}

void putServiceContext(CdrEncoder& out, const ServiceContextList& list) {
  out.putCount(static_cast<std::uint32_t>(list.size()));
  for (const ServiceContext& c : list) {
    out.putULong(c.context_id);
    out.putOctets(c.context_data);
  }
}

bool getServiceContext(CdrDecoder& in, ServiceContextList& list) {
  std::uint32_t n;
  // Each context is at least an id and a length.
  if (!in.getCount(n, 8)) return false;
  list.clear();
  list.reserve(n);
  for (std::uint32_t i = 0; i < n; ++i) {
    ServiceContext c;
    if (!in.getULong(c.context_id) || !in.getOctets(c.context_data)) {
      return false;
    }
    list.push_back(std::move(c));
  }
  return true;
}

}  // namespace

Status decodeHeader(ByteView message, MessageHeader& out) {
  if (message.size() >= 4 && !std::equal(kMagic, kMagic + 4, message.begin())) {
    return fail<CORBA::COMM_FAILURE>(kMinorNotGiop);
  }
  if (message.size() < kHeaderSize) {
    return fail<CORBA::MARSHAL>(
        protocol::kMinorShortBuffer,
        "GIOP header of " + std::to_string(message.size()) + " bytes",
        CORBA::COMPLETED_MAYBE);
  }
  MessageHeader h;
  h.major = message[4];
  h.minor = message[5];
  h.little_endian = (message[6] & 1) != 0;
  h.type = message[7];
  const std::uint8_t* p = message.data() + 8;
  h.size = h.little_endian
               ? (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) |
                     (std::uint32_t{p[1]} << 8) | std::uint32_t{p[0]}
               : (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
                     (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
  out = h;
  return nullptr;
}

Bytes encodeHeader(MsgType type, std::uint32_t size, bool little_endian,
                   std::uint8_t major, std::uint8_t minor) {
  Bytes h(kMagic, kMagic + 4);
  h.push_back(major);
  h.push_back(minor);
  h.push_back(little_endian ? 1 : 0);
  h.push_back(static_cast<std::uint8_t>(type));
  for (int i = 0; i < 4; ++i) {
    const int shift = little_endian ? 8 * i : 8 * (3 - i);
    h.push_back(static_cast<std::uint8_t>(size >> shift));
  }
  return h;
}

MessageWriter::MessageWriter(MsgType type, bool little_endian)
    : type_(type), body_(kHeaderSize, 256, little_endian) {}

Bytes MessageWriter::finish() {
  Bytes body = body_.take();
  Bytes message = encodeHeader(type_, static_cast<std::uint32_t>(body.size()),
                               body_.littleEndian());
  message.insert(message.end(), body.begin(), body.end());
  return message;
}

Status openMessage(ByteView message, MessageReader& out) {
  MessageHeader h;
  if (Status st = decodeHeader(message, h)) return st;
  const std::size_t body = message.size() - kHeaderSize;
  if (h.size > body) {
    return fail<CORBA::MARSHAL>(protocol::kMinorShortBuffer,
                                "GIOP body of " + std::to_string(h.size) +
                                    " bytes, " + std::to_string(body) + " left",
                                CORBA::COMPLETED_MAYBE);
  }
  if (h.size < body) return badValue("GIOP body size", h.size);
  out.header = h;
  out.body = std::make_unique<CdrDecoder>(message.subspan(kHeaderSize),
                                          h.little_endian, kHeaderSize);
  return nullptr;
}

void putRequestHeader(CdrEncoder& out, const RequestHeader& h) {
  putServiceContext(out, h.service_context);
  out.putULong(h.request_id);
  out.putBoolean(h.response_expected);
  out.putOctets(h.object_key);
  out.putString(h.operation);
  out.putOctets(h.requesting_principal);
}

Status getRequestHeader(CdrDecoder& in, RequestHeader& h) {
  std::optional<std::string> operation;
  if (!getServiceContext(in, h.service_context) || !in.getULong(h.request_id) ||
      !in.getBoolean(h.response_expected) || !in.getOctets(h.object_key) ||
      !in.getString(operation) || !in.getOctets(h.requesting_principal)) {
    return decodeFailure(in);
  }
  h.operation = operation.value_or("");
  return nullptr;
}

void putReplyHeader(CdrEncoder& out, const ReplyHeader& h) {
  putServiceContext(out, h.service_context);
  out.putULong(h.request_id);
  out.putEnum(static_cast<std::uint32_t>(h.reply_status));
}

Status getReplyHeader(CdrDecoder& in, ReplyHeader& h) {
  std::uint32_t status;
  if (!getServiceContext(in, h.service_context) || !in.getULong(h.request_id) ||
      !in.getEnum(status)) {
    return decodeFailure(in);
  }
  if (status > 3) return badValue("reply status", status);
  h.reply_status = static_cast<ReplyStatus>(status);
  return nullptr;
}

void putSystemException(CdrEncoder& out, const SystemExceptionBody& b) {
  out.putString(b.id);
  out.putULong(b.minor);
  out.putEnum(static_cast<std::uint32_t>(b.completed));
}

Status getSystemException(CdrDecoder& in, SystemExceptionBody& b) {
  std::optional<std::string> id;
  std::uint32_t completed;
  if (!in.getString(id) || !in.getULong(b.minor) || !in.getEnum(completed)) {
    return decodeFailure(in);
  }
  b.id = id.value_or("");
  // A status outside the three known ones cannot be trusted either way.
  b.completed = completed <= 2 ? static_cast<CORBA::CompletionStatus>(completed)
                               : CORBA::COMPLETED_MAYBE;
  return nullptr;
}

void putCancelRequestHeader(CdrEncoder& out, const CancelRequestHeader& h) {
  out.putULong(h.request_id);
}

Status getCancelRequestHeader(CdrDecoder& in, CancelRequestHeader& h) {
  if (!in.getULong(h.request_id)) return decodeFailure(in);
  return nullptr;
}

void putLocateRequestHeader(CdrEncoder& out, const LocateRequestHeader& h) {
  out.putULong(h.request_id);
  out.putOctets(h.object_key);
}

Status getLocateRequestHeader(CdrDecoder& in, LocateRequestHeader& h) {
  if (!in.getULong(h.request_id) || !in.getOctets(h.object_key)) {
    return decodeFailure(in);
  }
  return nullptr;
}

void putLocateReplyHeader(CdrEncoder& out, const LocateReplyHeader& h) {
  out.putULong(h.request_id);
  out.putEnum(static_cast<std::uint32_t>(h.locate_status));
}

Status getLocateReplyHeader(CdrDecoder& in, LocateReplyHeader& h) {
  std::uint32_t status;
  if (!in.getULong(h.request_id) || !in.getEnum(status)) {
    return decodeFailure(in);
  }
  if (status > 2) return badValue("locate status", status);
  h.locate_status = static_cast<LocateStatus>(status);
  return nullptr;
}

void putIor(CdrEncoder& out, const protocol::IorProfile& ior) {
  CdrEncoder profile(0, 256, out.littleEndian());
  profile.beginEncapsulation();
  profile.putOctet(ior.major);
  profile.putOctet(ior.minor);
  profile.putString(ior.host);
  profile.putUShort(ior.port);
  profile.putOctets(ior.object_key);

  out.putString(ior.type_id);
  out.putCount(1);
  out.putULong(kTagInternetIop);
  out.putEncapsulation(profile);
}

Status getIor(CdrDecoder& in, protocol::IorProfile& ior) {
  std::optional<std::string> type_id;
  std::uint32_t count;
  // Each profile is at least a tag and a length.
  if (!in.getString(type_id) || !in.getCount(count, 8)) {
    return decodeFailure(in);
  }
  bool found = false;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t tag;
    if (!in.getULong(tag)) return decodeFailure(in);
    if (tag != kTagInternetIop || found) {
      std::vector<std::uint8_t> skipped;
      if (!in.getOctets(skipped)) return decodeFailure(in);
      continue;
    }
    std::unique_ptr<CdrDecoder> body = in.getEncapsulation();
    if (body == nullptr) return decodeFailure(in);
    std::optional<std::string> host;
    if (!body->getOctet(ior.major) || !body->getOctet(ior.minor) ||
        !body->getString(host) || !body->getUShort(ior.port) ||
        !body->getOctets(ior.object_key)) {
      return decodeFailure(*body);
    }
    ior.host = host.value_or("");
    found = true;
  }
  if (!found) {
    return fail<CORBA::MARSHAL>(protocol::kMinorBadIor, "no IIOP profile",
                                CORBA::COMPLETED_MAYBE);
  }
  ior.type_id = type_id.value_or("");
  return nullptr;
}

Verdict checkMessage(ByteView message, const std::string& server_name) {
  Verdict v;
  if (Status st = decodeHeader(message, v.header)) {
    v.action = Verdict::kClose;
    v.reason = std::move(st);
    return v;
  }
  const MessageHeader& h = v.header;
  if (!h.supported()) {
    v.action = Verdict::kMessageError;
  } else if (h.type == static_cast<std::uint8_t>(MsgType::kMessageError)) {
    v.action = Verdict::kClose;
    v.reason = fail<CORBA::IIOP>(kMinorMessageError);
  } else if (h.type == static_cast<std::uint8_t>(MsgType::kCloseConnection)) {
    v.action = Verdict::kClose;
    v.reason = fail<CORBA::IIOP>(kMinorClosed, server_name);
  } else if (h.size == 0) {
    v.action = Verdict::kClose;
    v.reason = fail<CORBA::COMM_FAILURE>(kMinorNotGiop);
  } else if (h.type > static_cast<std::uint8_t>(MsgType::kMessageError)) {
    v.action = Verdict::kMessageError;
  }
  return v;
}

Bytes messageError(bool little_endian) {
  return encodeHeader(MsgType::kMessageError, 0, little_endian);
}

Bytes closeConnection(bool little_endian) {
  return encodeHeader(MsgType::kCloseConnection, 0, little_endian);
}

}  // namespace talvo::iiop
