// The serving half of the Orb: connection state, the accepting side of the
// binding exchange, and the hand-over of requests to the dispatcher.

#include "runtime/orb/orb.h"

#include <cstring>

#include "platform/errors.h"
#include "platform/log_text.h"
#include "platform/system_info.h"
#include "runtime/config/runtime_config.h"
#include "runtime/orb/iiop_protocol.h"
#include "runtime/orb/orb_internal.h"
#include "runtime/protocol/message.h"
#include "runtime/transport/socket_failure.h"

namespace talvo {
namespace {

// The dispatcher's trace lines go where the transport's go.
class ContextTraceSink : public protocol::TraceSink {
 public:
  explicit ContextTraceSink(TransportContext& context) : context_(context) {}
  int level() const override { return context_.diagnosticsLevel(); }
  void line(std::string_view text) override { context_.trace(text, true); }

 private:
  TransportContext& context_;
};

}  // namespace

namespace orb_internal {

bool peekReply(ByteView frame, protocol::CodecKind codec, std::int32_t& kind,
               std::uint32_t& id) {
  if (frame.size() < 4) return false;
  auto word = [&](std::size_t at) {
    std::uint32_t v;
    if (codec == protocol::CodecKind::kXdr) {
      v = (std::uint32_t{frame[at]} << 24) |
          (std::uint32_t{frame[at + 1]} << 16) |
          (std::uint32_t{frame[at + 2]} << 8) | std::uint32_t{frame[at + 3]};
    } else {
      std::memcpy(&v, frame.data() + at, 4);
    }
    return v;
  };
  kind = static_cast<std::int32_t>(word(0));
  id = frame.size() >= 8 ? word(4) : 0;
  return true;
}

protocol::CodecKind codecOf(const Session& session) {
  return session.optimised() ? protocol::CodecKind::kNull
                             : protocol::CodecKind::kXdr;
}

}  // namespace orb_internal

Orb::Orb(OrbOptions options)
    : options_(options),
      context_(options.context != nullptr ? *options.context
                                          : TransportContext::process()),
      config_(options.config != nullptr ? *options.config : runtimeConfig()),
      loop_(context_),
      own_trace_(options.trace != nullptr
                     ? nullptr
                     : std::make_unique<ContextTraceSink>(context_)),
      own_iiop_(std::make_unique<IiopProtocol>(*this)),
      dispatcher_(options.trace != nullptr ? options.trace : own_trace_.get(),
                  config_.hostName()),
      pid_(options.pid != 0
               ? options.pid
               : static_cast<std::uint32_t>(platform::processId())),
      ping_object_(std::make_shared<protocol::Interface>("CORBA::Object")),
      max_message_size_(parseMaxMessageSize(context_.maxMessageSize())) {
  ping_object_->addOperation(kPingSignature, [](protocol::Request&) {});
  iiop_ = own_iiop_.get();
  EventLoopCallbacks callbacks;
  callbacks.on_open = [this](Channel& ch) { sessionOf(ch); };
  callbacks.describe = [this](const Channel& ch) {
    ChannelTexts texts;
    const Session* s = session(ch.id());
    Session unknown;
    if (s == nullptr) s = &unknown;
    texts.server_name = s->serverName();
    texts.host_name = s->hostName();
    texts.end_of_connection = s->endConnectionText(ch);
    return texts;
  };
  callbacks.on_data = [this](Channel& ch, ByteView bytes) {
    return onData(ch, bytes);
  };
  callbacks.on_closed = [this](Channel& ch,
                               const CORBA::SystemException* reason) {
    onClosed(ch, reason);
  };
  loop_.setCallbacks(std::move(callbacks));
}

Orb::~Orb() = default;

void Orb::serve(std::string marker,
                std::shared_ptr<protocol::Interface> object) {
  if (object->find(kPingOperation) == nullptr) {
    object->addOperation(kPingSignature, [](protocol::Request&) {});
  }
  if (dispatcher_.objects().find(object->name(), marker) == nullptr) {
    ++markers_[marker];
  }
  dispatcher_.objects().add(marker, ping_object_);
  dispatcher_.objects().add(std::move(marker), std::move(object));
}

bool Orb::withdraw(std::string_view interface_name, std::string_view marker) {
  if (!dispatcher_.objects().remove(interface_name, marker)) return false;
  auto it = markers_.find(marker);
  if (it != markers_.end() && --it->second == 0) {
    dispatcher_.objects().remove(ping_object_->name(), marker);
    markers_.erase(it);
  }
  return true;
}

Status Orb::listen(const std::string& port, std::uint16_t* bound) {
  return loop_.listen(port, bound);
}

bool Orb::hasProtocol(std::string_view name) const {
  return name == "Talvo" || (name == "IIOP" && iiop_ != nullptr);
}

Status Orb::listenIiop(const std::string& port, IiopListener& out) {
  if (iiop_ == nullptr) {
    return fail<CORBA::BAD_PARAM>(kMinorNoProtocol, "IIOP");
  }
  return loop_.listen(port, &out.port, &out.descriptor);
}

Status Orb::runOnce(int timeout_ms) {
  return std::move(loop_.runOnce(timeout_ms).failure);
}

std::shared_ptr<Session> Orb::sessionOf(const Channel& channel) {
  std::shared_ptr<Session>& session = sessions_[channel.id()];
  if (!session) {
    session = std::make_shared<Session>();
    session->info.identity = channel.identity();
    session->reader =
        std::make_unique<MessageReader>(max_message_size_, channel.outgoing());
  }
  return session;
}

const Session* Orb::session(std::uint64_t channel) const {
  auto it = sessions_.find(channel);
  return it == sessions_.end() ? nullptr : it->second.get();
}

Channel* Orb::findChannel(
    const std::function<bool(const Channel&, const Session&)>& match) {
  return loop_.find([&](const Channel& ch) {
    const Session* s = session(ch.id());
    return s != nullptr && match(ch, *s);
  });
}

void Orb::traceNewConnection(const Channel& channel, const Session& session) {
  trace(session.newConnectionText(channel), true);
}

void Orb::onFrame(Channel& channel, Session& peer, ByteView frame) {
  std::int32_t kind = -1;
  std::uint32_t id = 0;
  const protocol::CodecKind codec =
      peer.bound ? orb_internal::codecOf(peer) : protocol::CodecKind::kXdr;
  if (!peer.opening.empty()) {
    // This side opened the channel: the first frame answers its binding.
    bindingAnswered(channel, peer, frame);
    return;
  }
  orb_internal::peekReply(frame, codec, kind, id);
  switch (static_cast<protocol::MessageKind>(kind)) {
    case protocol::MessageKind::kBinding:
      // Only the first frame of an accepted connection binds it.
      if (!peer.bound && !channel.outgoing()) {
        acceptBinding(channel, peer, frame);
      }
      break;
    case protocol::MessageKind::kRequest:
      serveRequest(channel, peer, frame);
      break;
    case protocol::MessageKind::kReply:
    case protocol::MessageKind::kExceptionReply:
      replyArrived(channel, id, frame);
      break;
    default:
      break;
  }
}

void Orb::acceptBinding(Channel& channel, Session& peer, ByteView frame) {
  protocol::BindingMessage m;
  if (protocol::decodeBinding(frame, m) != nullptr) {
    // A peer that cannot introduce itself gets no connection.
    loop_.close(channel);
    return;
  }
  applyBinding(peer, m);
  Bytes answer = localBindingBody();
  if (sendFrame(channel, answer) == nullptr) traceNewConnection(channel, peer);
}

void Orb::applyBinding(Session& peer, const protocol::BindingMessage& m) {
  peer.bound = true;
  peer.info.user_name = m.user_name.value_or("");
  // What a peer says of itself appears in trace lines: a control character
  // in it could forge a line.
  peer.info.host_name =
      platform::escapeControlCharacters(m.host_name.value_or(""));
  peer.info.server_name =
      platform::escapeControlCharacters(m.server_name.value_or(""));
  peer.info.marker =
      platform::escapeControlCharacters(m.marker_pattern.value_or(""));
  peer.info.pid = m.pid;
  peer.info.optimised = options_.optimise && m.sharesRepresentation();
  peer.info.protocol = protocol::ProtocolKind::kTalvo;
}

void Orb::serveRequest(Channel& channel, Session& peer, ByteView frame) {
  if (!peer.bound) {
    // A peer that skipped the binding message: no user name, pid 0.
    peer.bound = true;
    traceNewConnection(channel, peer);
  }
  // A deferred operation's reply goes back on this channel if it is still
  // open then.
  const std::uint64_t id = channel.id();
  const protocol::ReplySink later = [this, id](Bytes reply) {
    if (Channel* ch = loop_.channel(id)) sendFrame(*ch, reply);
  };
  std::optional<Bytes> reply =
      dispatcher_.handleRequest(peer.info, frame, &later);
  if (reply) sendFrame(channel, *reply);
}

void Orb::onClosed(Channel& channel, const CORBA::SystemException* reason) {
  auto it = sessions_.find(channel.id());
  if (it != sessions_.end() && !it->second->opening.empty()) {
    openFailed(
        it->second->opening,
        reason != nullptr
            ? reason->cloneSystem()
            : fail<CORBA::COMM_FAILURE>(
                  kMinorReceive, socketErrorText(platform::kWsaEconnreset)));
  }
  channelClosed(channel.id(), reason);
  sessions_.erase(channel.id());
}

Status Orb::sendFrame(Channel& channel, ByteView body) {
  return loop_.send(channel, makeTalvoFrame(body));
}

Bytes Orb::localBindingBody() {
  return protocol::encodeBinding(
      protocol::localBinding(config_, pid_, options_.optimise, ++binding_ids_));
}

void Orb::trace(const std::string& text, bool prefixed) {
  if (context_.diagnosticsLevel() != 0) context_.trace(text, prefixed);
}

}  // namespace talvo
