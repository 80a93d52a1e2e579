#include "runtime/protocol/dispatcher.h"

#include <exception>

namespace talvo::protocol {
namespace {

bool mayRunSuspended(std::string_view interface_name) {
  return interface_name == "TalvoServer" || interface_name == "Facade";
}

}  // namespace

Dispatcher::Dispatcher(TraceSink* trace, std::string host_name)
    : trace_(trace), host_name_(std::move(host_name)) {}

std::optional<std::vector<std::uint8_t>> Dispatcher::handleRequest(
    const PeerInfo& peer, std::span<const std::uint8_t> body) {
  const CodecKind codec = peer.optimised ? CodecKind::kNull : CodecKind::kXdr;
  auto in = makeDecoder(codec, body);
  MessageKind kind;
  RequestHeader header;
  if (decodeMessageKind(*in, kind) != nullptr ||
      kind != MessageKind::kRequest ||
      decodeRequestHeader(*in, header) != nullptr) {
    return std::nullopt;
  }
  if (trace_ != nullptr && trace_->level() == 2) {
    trace_->line(" Incoming request `" + header.operation + "' to object " +
                 header.marker.value_or("") + " of type " +
                 header.interface_name.value_or("") + " ]");
  }

  Request request(peer, std::move(header));
  const bool served = deliver(request, *in);
  if (!request.header.response_expected) return std::nullopt;
  if (!served) return exceptionReply(request, codec);

  auto out = makeEncoder(codec);
  Status st = encodeReply(*out, request.header.request_id, *request.signature,
                          request.args, request.result);
  if (st == nullptr &&
      filters_.run(FilterPoint::kOutReplyPostMarshal, request)) {
    return out->take();
  }
  if (st != nullptr) st->record(request.env);
  return exceptionReply(request, codec);
}

bool Dispatcher::deliver(Request& request, Decoder& in) {
  const RequestHeader& h = request.header;
  const std::string iface = h.interface_name.value_or("");
  const std::string marker = h.marker.value_or("");
  if (suspended_ && !mayRunSuspended(iface)) {
    request.raise(CORBA::QV_SUSPEND(kMinorSuspended, CORBA::COMPLETED_NO));
    return false;
  }
  const Interface* object = objects_.find(iface, marker);
  if (object == nullptr) {
    request.raise(CORBA::INV_OBJREF(kMinorNoObject, CORBA::COMPLETED_NO,
                                    ":\\" + host_name_ + ":" +
                                        h.server.value_or("") + ":" + marker +
                                        "::IR:" + iface));
    return false;
  }
  if (!filters_.run(FilterPoint::kInRequestPreMarshal, request)) return false;

  const Operation* op = object->find(h.operation);
  if (op == nullptr) {
    request.raise(CORBA::BAD_OPERATION(kMinorUnknownOperation,
                                       CORBA::COMPLETED_NO, h.operation));
    return false;
  }
  request.signature = &op->signature;
  if (Status st = unmarshalRequestArgs(in, op->signature, request.args)) {
    st->record(request.env);
    return false;
  }
  if (!filters_.run(FilterPoint::kInRequestPostMarshal, request)) return false;

  try {
    op->handler(request);
  } catch (const CORBA::Exception& e) {
    request.raise(e);
  } catch (const std::exception& e) {
    // A handler must not take the process down with it.
    request.raise(
        CORBA::INTERNAL(kMinorHandlerFailed, CORBA::COMPLETED_MAYBE, e.what()));
  }
  if (request.env.kind() != CORBA::Environment::kNone) return false;
  return filters_.run(FilterPoint::kOutReplyPreMarshal, request);
}

std::vector<std::uint8_t> Dispatcher::exceptionReply(Request& request,
                                                     CodecKind codec) {
  filters_.runFailure(request);
  auto out = makeEncoder(codec);
  const CORBA::Exception* e = request.env.exception();
  if (e != nullptr) {
    encodeExceptionReply(*out, request.header.request_id, *e);
  } else {
    // A failure hook that cleared the exception leaves nothing to report;
    // the caller still needs an answer.
    encodeExceptionReply(*out, request.header.request_id,
                         CORBA::UNKNOWN(0, CORBA::COMPLETED_MAYBE));
  }
  return out->take();
}

}  // namespace talvo::protocol
