// The calling half of the Orb: channels to servers with the connecting side
// of the binding exchange (or, for IIOP, plain connections of their own),
// requests and their replies in the broker protocol or GIOP 1.0 (each call
// a record completed by its reply, its channel's close or one of its
// time-outs), pings, binding to an object and the daemon's target.

#include <cstdlib>

#include "platform/errors.h"
#include "runtime/config/runtime_config.h"
#include "runtime/iiop/exception_ids.h"
#include "runtime/iiop/giop.h"
#include "runtime/orb/orb.h"
#include "runtime/orb/orb_internal.h"
#include "runtime/protocol/message.h"
#include "runtime/transport/socket_failure.h"

namespace talvo {
namespace {

std::chrono::milliseconds until(Orb::Clock::time_point when) {
  const auto now = Orb::Clock::now();
  if (when <= now) return std::chrono::milliseconds(0);
  return std::chrono::ceil<std::chrono::milliseconds>(when - now);
}

Status connectionReset() {
  return fail<CORBA::COMM_FAILURE>(kMinorReceive,
                                   socketErrorText(platform::kWsaEconnreset));
}

}  // namespace

const protocol::Signature* Orb::signature(std::string_view text,
                                          Status& error) {
  auto it = signatures_.find(text);
  if (it != signatures_.end()) return &it->second;
  protocol::Signature sig;
  if ((error = protocol::parseSignature(text, sig))) return nullptr;
  return &signatures_.emplace(std::string(text), std::move(sig)).first->second;
}

void Orb::channelAsync(const std::string& host, const std::string& port,
                       bool iiop, Clock::time_point deadline,
                       ChannelDone done) {
  const std::string key = (iiop ? "iiop:" : "") + host + ":" + port;
  auto it = channels_.find(key);
  if (it != channels_.end()) {
    if (Channel* ch = loop_.channel(it->second)) {
      done(nullptr, ch);
      return;
    }
    channels_.erase(it);
  }
  auto [open, first] = opening_.try_emplace(key);
  open->second.waiters.push_back(std::move(done));
  if (!first) return;
  open->second.connect = loop_.connectAsync(
      host, port, options_.connect_retries, deadline,
      [this, key, iiop](Status st, Channel* ch) {
        auto it = opening_.find(key);
        if (it == opening_.end()) return;
        it->second.connect = 0;
        if (st) {
          openFailed(key, std::move(st));
          return;
        }
        it->second.channel = ch->id();
        std::shared_ptr<Session> session = sessionOf(*ch);
        if (iiop) {
          // No binding exchange: what comes back is GIOP, gathered by a
          // reader that lets the first bytes decide.
          session->reader =
              std::make_unique<MessageReader>(max_message_size_, false);
          session->info.protocol = protocol::ProtocolKind::kIiop;
          session->bound = true;
          channelReady(key, *ch);
          return;
        }
        // The binding exchange: our binding message first, then the
        // peer's answer, which must be its binding message (onFrame).
        session->opening = key;
        Bytes body = localBindingBody();
        if (Status sent = sendFrame(*ch, body)) {
          openFailed(key, std::move(sent));
          return;
        }
        const std::uint64_t id = ch->id();
        it->second.timer = loop_.addTimer(
            std::chrono::milliseconds(options_.reply_timeout_ms),
            [this, key, id] {
              opening_[key].timer = 0;
              openFailed(key, fail<CORBA::COMM_FAILURE>(kMinorTimeout));
              if (Channel* c = loop_.channel(id)) loop_.close(*c);
            });
      });
}

void Orb::bindingAnswered(Channel& channel, Session& peer, ByteView frame) {
  const std::string key = std::move(peer.opening);
  peer.opening.clear();
  protocol::BindingMessage m;
  if (Status st = protocol::decodeBinding(frame, m)) {
    openFailed(key, std::move(st));
    loop_.close(channel);
    return;
  }
  applyBinding(peer, m);
  traceNewConnection(channel, peer);
  channelReady(key, channel);
}

void Orb::channelReady(const std::string& key, Channel& channel) {
  auto it = opening_.find(key);
  if (it == opening_.end()) return;
  Opening open = std::move(it->second);
  opening_.erase(it);
  if (open.timer != 0) loop_.cancelTimer(open.timer);
  channels_[key] = channel.id();
  const std::uint64_t id = channel.id();
  for (ChannelDone& done : open.waiters) {
    // An earlier waiter may have closed it.
    Channel* ch = loop_.channel(id);
    if (ch == nullptr) {
      done(connectionReset(), nullptr);
    } else {
      done(nullptr, ch);
    }
  }
}

void Orb::openFailed(const std::string& key, Status status) {
  auto it = opening_.find(key);
  if (it == opening_.end()) return;
  Opening open = std::move(it->second);
  opening_.erase(it);
  if (open.timer != 0) loop_.cancelTimer(open.timer);
  if (open.connect != 0) loop_.cancelConnect(open.connect);
  if (open.channel != 0) {
    auto peer = sessions_.find(open.channel);
    if (peer != sessions_.end()) peer->second->opening.clear();
  }
  for (ChannelDone& done : open.waiters) done(status->cloneSystem(), nullptr);
}

Status Orb::channelTo(const std::string& host, const std::string& port,
                      Channel** out) {
  bool finished = false;
  Status result;
  channelAsync(host, port, false, Clock::time_point::max(),
               [&](Status st, Channel* ch) {
                 finished = true;
                 result = std::move(st);
                 *out = ch;
               });
  if (Status st =
          loop_.runUntil([&] { return finished; }, Clock::time_point::max())) {
    return st;
  }
  return result;
}

std::uint64_t Orb::callAsync(const Target& target,
                             std::string_view signature_text,
                             std::vector<protocol::Value> args,
                             Clock::time_point deadline, CallDone done) {
  const std::uint64_t id = next_call_++;
  PendingCall& call = calls_[id];
  call.done = std::move(done);
  call.reply.args = std::move(args);
  call.ref = target.ref;
  call.iiop = target.iiop;
  if (call.iiop) {
    call.object_key = target.object_key;
    if (call.object_key.empty()) {
      const std::string& text = target.ref.toString();
      call.object_key.assign(text.begin(), text.end());
      call.object_key.push_back(0);
    }
  }
  Status st;
  call.sig = signature(signature_text, st);
  if (st) {
    // Completed from the loop, never inside this call.
    call.timer = loop_.addTimer(
        std::chrono::milliseconds(0),
        [this, id,
         failure = std::shared_ptr<CORBA::SystemException>(st.release())] {
          calls_[id].timer = 0;
          finishCall(id, failure->cloneSystem());
        });
    return id;
  }
  if (deadline != Clock::time_point::max()) {
    call.timer = loop_.addTimer(until(deadline), [this, id] {
      calls_[id].timer = 0;
      finishCall(id, fail<CORBA::COMM_FAILURE>(kMinorTimeout));
    });
  }
  channelAsync(target.host, target.port, target.iiop, deadline,
               [this, id](Status st, Channel* ch) {
                 if (calls_.count(id) == 0) return;
                 if (st) {
                   finishCall(id, std::move(st));
                 } else {
                   sendCall(id, *ch);
                 }
               });
  return id;
}

void Orb::sendCall(std::uint64_t id, Channel& ch) {
  PendingCall& call = calls_[id];
  const protocol::Signature& sig = *call.sig;
  call.codec = orb_internal::codecOf(*sessionOf(ch));
  const std::uint32_t request_id = request_ids_.next();
  Status st;
  if (call.iiop) {
    st = sendIiopCall(call, ch, request_id);
  } else {
    auto out = protocol::makeEncoder(call.codec);
    st = protocol::encodeRequest(
        *out, call.ref.requestHeader(sig.operation, request_id, !sig.oneway()),
        sig, call.reply.args);
    if (!st) st = sendFrame(ch, out->bytes());
  }
  if (st || sig.oneway()) {
    finishCall(id, std::move(st));
    return;
  }
  call.channel = ch.id();
  call.request_id = request_id;
  replies_[{ch.id(), request_id}] = id;
  if (call.timer == 0) {
    call.timer = loop_.addTimer(
        std::chrono::milliseconds(options_.reply_timeout_ms), [this, id] {
          calls_[id].timer = 0;
          finishCall(id, fail<CORBA::COMM_FAILURE>(kMinorTimeout));
        });
  }
}

void Orb::replyArrived(Channel& channel, std::uint32_t request_id,
                       ByteView frame) {
  auto it = replies_.find({channel.id(), request_id});
  // A reply nobody waits for any more (its wait timed out): dropped.
  if (it == replies_.end()) return;
  const std::uint64_t id = it->second;
  PendingCall& call = calls_[id];
  if (call.iiop) {
    // A peer that answers GIOP with the broker protocol.
    loop_.close(channel, fail<CORBA::COMM_FAILURE>(kMinorFrame));
    return;
  }
  CallReply& reply = call.reply;
  auto in = protocol::makeDecoder(call.codec, frame);
  protocol::ReplyOutcome outcome;
  Status st =
      protocol::decodeReply(*in, *call.sig, outcome, reply.args, reply.result);
  if (!st && outcome.exception) {
    if (auto* sys =
            dynamic_cast<CORBA::SystemException*>(outcome.exception.get())) {
      st = sys->cloneSystem();
    } else {
      reply.user_exception = std::move(outcome.exception);
      reply.user_members.assign(frame.begin() + in->position(), frame.end());
      reply.user_codec = call.codec;
    }
  }
  finishCall(id, std::move(st));
}

Status Orb::sendIiopCall(PendingCall& call, Channel& ch,
                         std::uint32_t request_id) {
  const protocol::Signature& sig = *call.sig;
  iiop::MessageWriter message(iiop::MsgType::kRequest);
  iiop::RequestHeader header;
  header.request_id = request_id;
  header.response_expected = !sig.oneway();
  header.object_key = call.object_key;
  header.operation = sig.operation;
  const std::string& user = config_.userName();
  header.requesting_principal.assign(user.begin(), user.end());
  iiop::putRequestHeader(message.body(), header);
  if (Status st =
          protocol::marshalRequestArgs(message.body(), sig, call.reply.args)) {
    return st;
  }
  return loop_.send(ch, message.finish());
}

void Orb::iiopReplyArrived(Channel& channel, ByteView message) {
  iiop::MessageReader in;
  iiop::ReplyHeader header;
  if (iiop::openMessage(message, in) != nullptr) return;
  // This side sends no LocateRequest: only Replies answer its calls.
  if (in.header.type != static_cast<std::uint8_t>(iiop::MsgType::kReply)) {
    return;
  }
  if (iiop::getReplyHeader(*in.body, header) != nullptr) {
    // No request id to complete: the channel's calls end with its close.
    loop_.close(channel, fail<CORBA::COMM_FAILURE>(kMinorFrame));
    return;
  }
  auto it = replies_.find({channel.id(), header.request_id});
  if (it == replies_.end()) return;
  const std::uint64_t id = it->second;
  PendingCall& call = calls_[id];
  CallReply& reply = call.reply;
  protocol::CdrDecoder& body = *in.body;
  Status st;
  switch (header.reply_status) {
    case iiop::ReplyStatus::kNoException:
      st = protocol::unmarshalReplyArgs(body, *call.sig,
                                        protocol::ProtocolKind::kIiop,
                                        reply.args, reply.result);
      break;
    case iiop::ReplyStatus::kUserException: {
      std::optional<std::string> repository_id;
      if (!body.getString(repository_id)) {
        st = body.error();
        break;
      }
      reply.user_exception =
          iiop::userExceptionFrom(repository_id.value_or(""));
      const std::size_t at = iiop::kHeaderSize + body.position();
      reply.user_members.assign(message.begin() + at, message.end());
      reply.user_codec = protocol::CodecKind::kCdr;
      reply.user_little_endian = in.header.little_endian;
      reply.user_origin = at;
      break;
    }
    case iiop::ReplyStatus::kSystemException: {
      iiop::SystemExceptionBody e;
      st = iiop::getSystemException(body, e);
      if (!st) st = iiop::systemExceptionFrom(e);
      break;
    }
    case iiop::ReplyStatus::kLocationForward: {
      protocol::IorProfile ior;
      st = iiop::getIor(body, ior);
      if (!st) {
        reply.forward = std::move(ior);
        st = fail<CORBA::IIOP>(iiop::kMinorForwarded);
      }
      break;
    }
  }
  finishCall(id, std::move(st));
}

void Orb::finishCall(std::uint64_t id, Status status) {
  auto it = calls_.find(id);
  if (it == calls_.end()) return;
  PendingCall call = std::move(it->second);
  calls_.erase(it);
  if (call.timer != 0) loop_.cancelTimer(call.timer);
  if (call.channel != 0) replies_.erase({call.channel, call.request_id});
  if (status) {
    call.reply.result = protocol::Value();
    call.reply.user_exception.reset();
  }
  call.done(std::move(status), call.reply);
}

void Orb::cancelCall(std::uint64_t id) {
  auto it = calls_.find(id);
  if (it == calls_.end()) return;
  if (it->second.timer != 0) loop_.cancelTimer(it->second.timer);
  if (it->second.channel != 0) {
    replies_.erase({it->second.channel, it->second.request_id});
  }
  calls_.erase(it);
}

void Orb::channelClosed(std::uint64_t channel,
                        const CORBA::SystemException* reason) {
  std::vector<std::uint64_t> ids;
  for (auto it = replies_.lower_bound({channel, 0});
       it != replies_.end() && it->first.first == channel; ++it) {
    ids.push_back(it->second);
  }
  for (std::uint64_t id : ids) {
    finishCall(id,
               reason != nullptr ? reason->cloneSystem() : connectionReset());
  }
}

Status Orb::call(const Target& target, std::string_view signature_text,
                 std::vector<protocol::Value> args, CallReply& reply) {
  reply = CallReply();
  bool finished = false;
  Status result;
  const std::uint64_t id =
      callAsync(target, signature_text, std::move(args),
                Clock::time_point::max(), [&](Status st, CallReply& r) {
                  finished = true;
                  result = std::move(st);
                  reply = std::move(r);
                });
  if (Status st =
          loop_.runUntil([&] { return finished; }, Clock::time_point::max())) {
    cancelCall(id);
    return st;
  }
  return result;
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

Target iiopTarget(const protocol::IorProfile& ior) {
  Target t;
  t.host = ior.host;
  t.port = std::to_string(ior.port);
  t.iiop = true;
  t.object_key = ior.object_key;
  // A key this run time published is a string reference and its NUL.
  std::string_view key(reinterpret_cast<const char*>(ior.object_key.data()),
                       ior.object_key.size());
  if (!key.empty() && key.back() == '\0') key.remove_suffix(1);
  protocol::ObjectRef::parse(key, t.ref);
  return t;
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
