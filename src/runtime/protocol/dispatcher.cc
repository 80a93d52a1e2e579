#include "runtime/protocol/dispatcher.h"

#include <exception>

#include "runtime/protocol/xdr_codec.h"

namespace talvo::protocol {
namespace {

// What the values of a request may take beyond its own bytes: a multiple
// of them and a little more, so that a small message cannot make the
// process build a large structure (each element of a sequence is a value
// many times the size of its smallest encoding).
constexpr std::size_t kBuildFactor = 4;
constexpr std::size_t kBuildSlack = 256 * 1024;

// The longest operation name quoted back in an exception detail; a longer
// one is cut and marked with "...".
constexpr std::size_t kMaxNameDetail = 128;

std::string nameDetail(const std::string& name) {
  if (name.size() <= kMaxNameDetail) return name;
  return name.substr(0, kMaxNameDetail) + "...";
}

bool mayRunSuspended(std::string_view interface_name) {
  return interface_name == "TalvoServer" || interface_name == "Facade";
}

class BrokerReplyEncoder : public ReplyEncoder {
 public:
  explicit BrokerReplyEncoder(CodecKind codec) : codec_(codec) {}

  Status reply(const Request& request,
               std::vector<std::uint8_t>& out) const override {
    // The broker protocol's two codecs, made here rather than on the heap:
    // this runs for every answered request.
    if (codec_ == CodecKind::kNull) return replyWith<NullEncoder>(request, out);
    return replyWith<XdrEncoder>(request, out);
  }

  std::vector<std::uint8_t> exceptionReply(
      const Request& request, const CORBA::Exception& e) const override {
    auto enc = makeEncoder(codec_);
    if (request.exception_members &&
        dynamic_cast<const CORBA::UserException*>(&e) != nullptr &&
        encodeUserExceptionReply(*enc, request.header.request_id, e.name(),
                                 *request.exception_members,
                                 request.exception_value) == nullptr) {
      return enc->take();
    }
    enc = makeEncoder(codec_);
    encodeExceptionReply(*enc, request.header.request_id, e);
    return enc->take();
  }

 private:
  template <typename Codec>
  static Status replyWith(const Request& request,
                          std::vector<std::uint8_t>& out) {
    Codec enc;
    if (Status st =
            encodeReply(enc, request.header.request_id, *request.signature,
                        request.args, request.result)) {
      return st;
    }
    out = enc.take();
    return nullptr;
  }

  CodecKind codec_;
};

}  // namespace

const ReplyEncoder& brokerReplyEncoder(CodecKind codec) {
  static const BrokerReplyEncoder xdr(CodecKind::kXdr);
  static const BrokerReplyEncoder native(CodecKind::kNull);
  return codec == CodecKind::kNull ? native : xdr;
}

Completion::Completion(const PeerInfo& peer, Request&& request,
                       const ReplyEncoder& encoder, ReplySink sink,
                       std::weak_ptr<Dispatcher*> dispatcher, bool failed)
    : peer_(peer),
      request_(peer_, std::move(request.header)),
      encoder_(encoder),
      sink_(std::move(sink)),
      dispatcher_(std::move(dispatcher)),
      failed_(failed) {
  request_.principal = std::move(request.principal);
  request_.signature = request.signature;
  request_.args = std::move(request.args);
  request_.result = std::move(request.result);
  request_.env = std::move(request.env);
  request_.exception_members = std::move(request.exception_members);
  request_.exception_value = std::move(request.exception_value);
  request_.forward_port = request.forward_port;
}

Completion::~Completion() {
  if (completed_) return;
  request_.raise(
      CORBA::INTERNAL(kMinorHandlerFailed, CORBA::COMPLETED_MAYBE, "no reply"));
  complete();
}

void Completion::complete() {
  if (completed_) return;
  completed_ = true;
  std::shared_ptr<Dispatcher*> dispatcher = dispatcher_.lock();
  if (!dispatcher) return;
  Dispatcher& d = **dispatcher;
  if (failed_) {
    sink_(Dispatcher::failureReply(request_, encoder_));
    return;
  }
  bool served = request_.env.kind() == CORBA::Environment::kNone &&
                d.filters_.run(FilterPoint::kOutReplyPreMarshal, request_);
  if (auto reply = d.finish(request_, served, encoder_, &sink_)) {
    sink_(std::move(*reply));
  }
}

Dispatcher::Dispatcher(TraceSink* trace, std::string host_name)
    : trace_(trace),
      host_name_(std::move(host_name)),
      self_(std::make_shared<Dispatcher*>(this)) {}

std::optional<std::vector<std::uint8_t>> Dispatcher::handleRequest(
    const PeerInfo& peer, std::span<const std::uint8_t> body,
    const ReplySink* later) {
  if (peer.optimised) {
    NullDecoder in(body);
    return handleDecoded(peer, in, brokerReplyEncoder(CodecKind::kNull), later);
  }
  XdrDecoder in(body);
  return handleDecoded(peer, in, brokerReplyEncoder(CodecKind::kXdr), later);
}

std::optional<std::vector<std::uint8_t>> Dispatcher::handleDecoded(
    const PeerInfo& peer, Decoder& in, const ReplyEncoder& encoder,
    const ReplySink* later) {
  MessageKind kind;
  RequestHeader header;
  if (decodeMessageKind(in, kind) != nullptr || kind != MessageKind::kRequest ||
      decodeRequestHeader(in, header) != nullptr) {
    return std::nullopt;
  }
  return dispatch(peer, std::move(header), in, encoder, later);
}

std::optional<std::vector<std::uint8_t>> Dispatcher::dispatch(
    const PeerInfo& peer, RequestHeader&& header, Decoder& args,
    const ReplyEncoder& encoder, const ReplySink* later) {
  if (trace_ != nullptr && trace_->level() == 2) {
    trace_->line(" Incoming request `" + header.operation + "' to object " +
                 header.marker.value_or("") + " of type " +
                 header.interface_name.value_or("") + " ]");
  }

  Request request(peer, std::move(header));
  const Operation* op = prepare(request, args);
  if (op != nullptr && op->deferred) {
    if (later == nullptr) {
      request.raise(CORBA::NO_IMPLEMENT(0, CORBA::COMPLETED_NO,
                                        request.header.operation));
    } else {
      // A oneway request's reply goes nowhere.
      ReplySink sink = request.header.response_expected
                           ? *later
                           : ReplySink([](std::vector<std::uint8_t>) {});
      auto completion = std::make_shared<Completion>(
          peer, std::move(request), encoder, std::move(sink),
          std::weak_ptr<Dispatcher*>(self_));
      try {
        op->deferred(completion);
      } catch (const CORBA::Exception& e) {
        completion->request().raise(e);
        completion->complete();
      } catch (const std::exception& e) {
        completion->request().raise(CORBA::INTERNAL(
            kMinorHandlerFailed, CORBA::COMPLETED_MAYBE, e.what()));
        completion->complete();
      }
      return std::nullopt;
    }
  }
  const bool served = op != nullptr && !op->deferred && run(*op, request);
  if (!request.header.response_expected) return std::nullopt;
  return finish(request, served, encoder, later);
}

std::optional<std::vector<std::uint8_t>> Dispatcher::locate(
    const PeerInfo& peer, RequestHeader header, const ReplyEncoder& encoder,
    const ReplySink* later) {
  Request request(peer, std::move(header));
  const RequestHeader& h = request.header;
  if (objects_.find(h.interface_name.value_or(""), h.marker.value_or("")) !=
      nullptr) {
    std::vector<std::uint8_t> out;
    if (encoder.reply(request, out) == nullptr) return out;
  }
  request.raise(notFound(h));
  return exceptionReply(request, encoder, later);
}

CORBA::INV_OBJREF Dispatcher::notFound(const RequestHeader& h) const {
  return CORBA::INV_OBJREF(kMinorNoObject, CORBA::COMPLETED_NO,
                           ":\\" + host_name_ + ":" + h.server.value_or("") +
                               ":" + h.marker.value_or("") +
                               "::IR:" + h.interface_name.value_or(""));
}

const Operation* Dispatcher::prepare(Request& request, Decoder& in) {
  const RequestHeader& h = request.header;
  const std::string_view iface =
      h.interface_name ? std::string_view(*h.interface_name) : "";
  const std::string_view marker = h.marker ? std::string_view(*h.marker) : "";
  if (suspended_ && !mayRunSuspended(iface)) {
    request.raise(CORBA::QV_SUSPEND(kMinorSuspended, CORBA::COMPLETED_NO));
    return nullptr;
  }
  const Interface* object = objects_.find(iface, marker);
  if (object == nullptr) {
    request.raise(notFound(h));
    return nullptr;
  }
  if (!filters_.run(FilterPoint::kInRequestPreMarshal, request)) {
    return nullptr;
  }

  const Operation* op = object->find(h.operation);
  if (op == nullptr) {
    request.raise(CORBA::BAD_OPERATION(
        kMinorUnknownOperation, CORBA::COMPLETED_NO, nameDetail(h.operation)));
    return nullptr;
  }
  request.signature = &op->signature;
  in.limitBuild(in.remaining() * kBuildFactor + kBuildSlack);
  if (Status st = unmarshalRequestArgs(in, op->signature, request.args)) {
    st->record(request.env);
    return nullptr;
  }
  if (!filters_.run(FilterPoint::kInRequestPostMarshal, request)) {
    return nullptr;
  }
  return op;
}

bool Dispatcher::run(const Operation& op, Request& request) {
  try {
    op.handler(request);
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

std::optional<std::vector<std::uint8_t>> Dispatcher::finish(
    Request& request, bool served, const ReplyEncoder& encoder,
    const ReplySink* later) {
  if (!served) return exceptionReply(request, encoder, later);
  std::vector<std::uint8_t> out;
  Status st = encoder.reply(request, out);
  if (st == nullptr &&
      filters_.run(FilterPoint::kOutReplyPostMarshal, request)) {
    return out;
  }
  if (st != nullptr) st->record(request.env);
  return exceptionReply(request, encoder, later);
}

std::optional<std::vector<std::uint8_t>> Dispatcher::exceptionReply(
    Request& request, const ReplyEncoder& encoder, const ReplySink* later) {
  if (later != nullptr) {
    // A hook that defers moves the request into a completion of its own.
    request.defer_hook = [this, &request, &encoder, later] {
      return std::make_shared<Completion>(
          request.peer, std::move(request), encoder, *later,
          std::weak_ptr<Dispatcher*>(self_), true);
    };
  }
  filters_.runFailure(request);
  request.defer_hook = nullptr;
  if (request.deferred()) return std::nullopt;
  return failureReply(request, encoder);
}

std::vector<std::uint8_t> Dispatcher::failureReply(
    const Request& request, const ReplyEncoder& encoder) {
  const CORBA::Exception* e = request.env.exception();
  if (e != nullptr) return encoder.exceptionReply(request, *e);
  // A failure hook that cleared the exception leaves nothing to report;
  // the caller still needs an answer.
  return encoder.exceptionReply(request,
                                CORBA::UNKNOWN(0, CORBA::COMPLETED_MAYBE));
}

}  // namespace talvo::protocol
