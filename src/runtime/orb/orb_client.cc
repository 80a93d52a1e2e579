// The calling half of the Orb: channels to servers with the connecting side
// of the binding exchange, requests and their replies, pings, binding to an
// object and the daemon's target.

#include <cstdlib>

#include "platform/errors.h"
#include "runtime/config/runtime_config.h"
#include "runtime/orb/orb.h"
#include "runtime/orb/orb_internal.h"
#include "runtime/protocol/message.h"
#include "runtime/transport/socket_failure.h"

namespace talvo {

const protocol::Signature* Orb::signature(std::string_view text,
                                          Status& error) {
  auto it = signatures_.find(text);
  if (it != signatures_.end()) return &it->second;
  protocol::Signature sig;
  if ((error = protocol::parseSignature(text, sig))) return nullptr;
  return &signatures_.emplace(std::string(text), std::move(sig)).first->second;
}

Status Orb::channelTo(const std::string& host, const std::string& port,
                      Channel** out) {
  const std::string key = host + ":" + port;
  auto it = channels_.find(key);
  if (it != channels_.end()) {
    if (Channel* ch = loop_.channel(it->second)) {
      *out = ch;
      return nullptr;
    }
    channels_.erase(it);
  }
  Channel* ch = nullptr;
  if (Status st = connect(host, port, &ch)) return st;
  channels_[key] = ch->id();
  *out = ch;
  return nullptr;
}

Status Orb::connect(const std::string& host, const std::string& port,
                    Channel** out) {
  Channel* ch = nullptr;
  Status st =
      options_.connect_retries
          ? loop_.connect(host, port, &ch)
          : loop_.connectOnce(
                host, static_cast<std::uint16_t>(std::atoi(port.c_str())), &ch);
  if (st) return st;

  // The binding exchange: our binding message first, then the peer's
  // answer, which must be its binding message.
  const std::uint64_t id = ch->id();
  Bytes body = localBindingBody();
  if ((st = loop_.send(*ch, body))) return st;
  Bytes answer;
  st = loop_.waitForFrame(
      *ch, [](ByteView) { return true; }, options_.reply_timeout_ms, answer);
  ch = loop_.channel(id);  // the wait may have closed it
  protocol::BindingMessage m;
  if (!st) st = protocol::decodeBinding(answer, m);
  if (st) {
    if (ch != nullptr) loop_.close(*ch);
    return st;
  }
  if (ch == nullptr) {
    return fail<CORBA::COMM_FAILURE>(kMinorReceive,
                                     socketErrorText(platform::kWsaEconnreset));
  }
  applyBinding(*ch, *peerOf(*ch), m);
  loop_.traceNewConnection(*ch);
  *out = ch;
  return nullptr;
}

Status Orb::call(const Target& target, std::string_view signature_text,
                 std::vector<protocol::Value> args, CallReply& reply) {
  reply = CallReply();
  if (target.iiop) {
    // The IIOP client is not part of this run time yet.
    return fail<CORBA::BAD_PARAM>(kMinorNoProtocol, "IIOP");
  }
  Status st;
  const protocol::Signature* sig = signature(signature_text, st);
  if (sig == nullptr) return st;

  Channel* ch = nullptr;
  if ((st = channelTo(target.host, target.port, &ch))) return st;
  const protocol::CodecKind codec = orb_internal::codecOf(*ch);
  const std::uint32_t request_id = request_ids_.next();
  auto out = protocol::makeEncoder(codec);
  if ((st = protocol::encodeRequest(
           *out,
           target.ref.requestHeader(sig->operation, request_id, !sig->oneway()),
           *sig, args))) {
    return st;
  }
  if ((st = loop_.send(*ch, out->bytes()))) return st;
  reply.args = std::move(args);
  if (sig->oneway()) return nullptr;

  Bytes frame;
  auto is_reply = [codec, request_id](ByteView f) {
    std::int32_t kind = -1;
    std::uint32_t id = 0;
    return orb_internal::peekReply(f, codec, kind, id) &&
           (kind == static_cast<std::int32_t>(protocol::MessageKind::kReply) ||
            kind == static_cast<std::int32_t>(
                        protocol::MessageKind::kExceptionReply)) &&
           id == request_id;
  };
  if ((st = loop_.waitForFrame(*ch, is_reply, options_.reply_timeout_ms,
                               frame))) {
    return st;
  }
  auto in = protocol::makeDecoder(codec, frame);
  protocol::ReplyOutcome outcome;
  if ((st = protocol::decodeReply(*in, *sig, outcome, reply.args,
                                  reply.result))) {
    return st;
  }
  if (outcome.exception) {
    if (auto* sys =
            dynamic_cast<CORBA::SystemException*>(outcome.exception.get())) {
      return sys->cloneSystem();
    }
    reply.user_exception = std::move(outcome.exception);
    reply.user_members.assign(frame.begin() + in->position(), frame.end());
    reply.user_codec = codec;
  }
  return nullptr;
}

Status Orb::ping(const Target& target) {
  CallReply reply;
  return call(target, kPingSignature, {}, reply);
}

Status Orb::bind(const std::string& marker, const std::string& server,
                 const std::string& host, const std::string& port,
                 Target& out) {
  Target t;
  t.host = host;
  t.port = port;
  t.ref = protocol::ObjectRef(
      qualifyHostName(host.c_str(), config_.localDomain()), server, marker);
  if (Status st = ping(t)) return st;
  out = std::move(t);
  return nullptr;
}

Status Orb::daemonTarget(const std::string& host, Target& out) {
  protocol::DaemonEndpoint endpoint;
  if (Status st = protocol::daemonEndpoint(
          config_.daemonProtocol(), config_.daemonPort(), host, endpoint)) {
    return st;
  }
  Target t;
  t.host = endpoint.host;
  t.port = endpoint.port;
  t.iiop = endpoint.iiop;
  if (Status st = protocol::ObjectRef::parse(endpoint.reference, t.ref)) {
    return st;
  }
  out = std::move(t);
  return nullptr;
}

}  // namespace talvo
