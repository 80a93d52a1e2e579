// The calling half of the Orb: channels to servers with the connecting side
// of the binding exchange, requests and their replies (each call a record
// completed by its reply, its channel's close or one of its time-outs),
// pings, binding to an object and the daemon's target.

#include <cstdlib>

#include "platform/errors.h"
#include "runtime/config/runtime_config.h"
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
                       Clock::time_point deadline, ChannelDone done) {
  const std::string key = host + ":" + port;
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
      [this, key](Status st, Channel* ch) {
        auto it = opening_.find(key);
        if (it == opening_.end()) return;
        it->second.connect = 0;
        if (st) {
          openFailed(key, std::move(st));
          return;
        }
        // The binding exchange: our binding message first, then the
        // peer's answer, which must be its binding message (onFrame).
        it->second.channel = ch->id();
        sessionOf(*ch)->opening = key;
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

void Orb::iiopReplyArrived(Channel&, ByteView) {
  // This process makes no IIOP calls yet: a reply answers nothing here.
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
  channelAsync(host, port, Clock::time_point::max(),
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
  Status st;
  if (target.iiop) {
    // The IIOP client is not part of this run time yet.
    st = fail<CORBA::BAD_PARAM>(kMinorNoProtocol, "IIOP");
  } else {
    call.sig = signature(signature_text, st);
  }
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
  channelAsync(target.host, target.port, deadline,
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
  auto out = protocol::makeEncoder(call.codec);
  Status st = protocol::encodeRequest(
      *out, call.ref.requestHeader(sig.operation, request_id, !sig.oneway()),
      sig, call.reply.args);
  if (!st) st = sendFrame(ch, out->bytes());
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
