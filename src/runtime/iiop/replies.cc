#include "runtime/iiop/replies.h"

#include <algorithm>

#include "runtime/iiop/exception_ids.h"
#include "runtime/protocol/object_ref.h"

namespace talvo::iiop {
namespace {

void replyHeaderOnly(std::uint32_t request_id, ReplyStatus status,
                     MessageWriter& w) {
  putReplyHeader(w.body(), {{}, request_id, status});
}

}  // namespace

std::string keyText(const std::vector<std::uint8_t>& bytes) {
  auto end = std::find(bytes.begin(), bytes.end(), 0);
  return std::string(bytes.begin(), end);
}

Status dispatchHeader(const RequestHeader& giop, protocol::RequestHeader& out) {
  // A client calls the same object again and again: the key last read on
  // this thread is not parsed a second time.
  struct Parsed {
    std::vector<std::uint8_t> key;
    std::string marker, server, interface_name;
  };
  thread_local Parsed last;
  if (last.key.empty() || last.key != giop.object_key) {
    const std::string key = keyText(giop.object_key);
    protocol::ObjectRef ref("", "");
    if (protocol::ObjectRef::parse(key, ref) != nullptr) {
      return fail<CORBA::INV_OBJREF>(protocol::kMinorNoObject, key);
    }
    last = {giop.object_key, ref.marker(), ref.server(), ref.interfaceName()};
  }
  out.request_id = giop.request_id;
  out.response_expected = giop.response_expected;
  out.marker = last.marker;
  out.server = last.server;
  out.interface_name = last.interface_name;
  out.operation = giop.operation;
  out.object_key = giop.object_key;
  return nullptr;
}

std::string typeId(std::string_view interface_name) {
  return "IDL:" + std::string(interface_name) + ":1.0";
}

protocol::IorProfile forwardReference(const protocol::Request& request,
                                      std::string_view host,
                                      std::uint16_t port) {
  protocol::IorProfile p;
  p.type_id = typeId(request.header.interface_name.value_or(""));
  p.host = std::string(host);
  p.port = port;
  p.object_key = request.header.object_key;
  return p;
}

Status ReplyWriter::reply(const protocol::Request& request,
                          std::vector<std::uint8_t>& out) const {
  MessageWriter w(MsgType::kReply);
  replyHeaderOnly(request.header.request_id, ReplyStatus::kNoException, w);
  if (Status st = protocol::marshalReplyArgs(w.body(), *request.signature,
                                             protocol::ProtocolKind::kIiop,
                                             request.args, request.result)) {
    return st;
  }
  out = w.finish();
  return nullptr;
}

std::vector<std::uint8_t> ReplyWriter::exceptionReply(
    const protocol::Request& request, const CORBA::Exception& e) const {
  MessageWriter w(MsgType::kReply);
  const std::uint32_t id = request.header.request_id;
  if (request.forward_port) {
    replyHeaderOnly(id, ReplyStatus::kLocationForward, w);
    putIor(w.body(), forwardReference(request, host_, *request.forward_port));
    return w.finish();
  }
  if (const auto* sys = dynamic_cast<const CORBA::SystemException*>(&e)) {
    replyHeaderOnly(id, ReplyStatus::kSystemException, w);
    putSystemException(w.body(), systemExceptionBody(*sys));
    return w.finish();
  }
  replyHeaderOnly(id, ReplyStatus::kUserException, w);
  w.body().putString(userExceptionId(e));
  if (request.exception_members &&
      protocol::marshalValue(w.body(), *request.exception_members,
                             request.exception_value) != nullptr) {
    // Members that do not match their type cannot be sent; the caller
    // learns that the reply could not be written.
    return systemExceptionReply(
        id, CORBA::MARSHAL(protocol::kMinorBadLength, CORBA::COMPLETED_YES));
  }
  return w.finish();
}

Status LocateReplyWriter::reply(const protocol::Request& request,
                                std::vector<std::uint8_t>& out) const {
  MessageWriter w(MsgType::kLocateReply);
  putLocateReplyHeader(w.body(),
                       {request.header.request_id, LocateStatus::kObjectHere});
  out = w.finish();
  return nullptr;
}

std::vector<std::uint8_t> LocateReplyWriter::exceptionReply(
    const protocol::Request& request, const CORBA::Exception&) const {
  MessageWriter w(MsgType::kLocateReply);
  const std::uint32_t id = request.header.request_id;
  if (request.forward_port) {
    putLocateReplyHeader(w.body(), {id, LocateStatus::kObjectForward});
    putIor(w.body(), forwardReference(request, host_, *request.forward_port));
  } else {
    putLocateReplyHeader(w.body(), {id, LocateStatus::kUnknownObject});
  }
  return w.finish();
}

Bytes systemExceptionReply(std::uint32_t request_id,
                           const CORBA::SystemException& e) {
  MessageWriter w(MsgType::kReply);
  replyHeaderOnly(request_id, ReplyStatus::kSystemException, w);
  putSystemException(w.body(), systemExceptionBody(e));
  return w.finish();
}

Bytes booleanReply(std::uint32_t request_id, bool value) {
  MessageWriter w(MsgType::kReply);
  replyHeaderOnly(request_id, ReplyStatus::kNoException, w);
  w.body().putBoolean(value);
  return w.finish();
}

}  // namespace talvo::iiop
