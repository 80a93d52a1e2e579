#include "runtime/orb/iiop_protocol.h"

#include "runtime/config/runtime_config.h"
#include "runtime/transport/socket_failure.h"

namespace talvo {

IiopProtocol::IiopProtocol(Orb& orb)
    : orb_(orb),
      replies_(orb.config().hostName()),
      locates_(orb.config().hostName()) {}

void IiopProtocol::onMessage(Channel& channel, ByteView message) {
  // Kept alive while the message is served: a handler may run the loop.
  std::shared_ptr<Session> session = orb_.sessionOf(channel);
  if (!session->bound) {
    session->bound = true;
    session->info.protocol = protocol::ProtocolKind::kIiop;
    session->info.host_name = channel.peerAddress().dotted();
    session->peer_description = channel.description();
    orb_.traceNewConnection(channel, *session);
  }
  iiop::Verdict verdict = iiop::checkMessage(message, session->serverName());
  if (verdict.action == iiop::Verdict::kClose) {
    orb_.loop_.close(channel, std::move(verdict.reason));
    return;
  }
  if (verdict.action == iiop::Verdict::kMessageError) {
    send(channel, iiop::messageError());
    return;
  }
  const auto type = static_cast<iiop::MsgType>(verdict.header.type);
  if ((type == iiop::MsgType::kRequest || type == iiop::MsgType::kReply) &&
      orb_.integrity_) {
    if (std::optional<std::string> failure =
            orb_.integrity_(message.subspan(iiop::kHeaderSize))) {
      orb_.loop_.close(channel,
                       fail<CORBA::COMM_FAILURE>(kMinorIntegrity, *failure));
      return;
    }
  }
  iiop::MessageReader reader;
  if (iiop::openMessage(message, reader) != nullptr) {
    send(channel, iiop::messageError());
    return;
  }
  switch (type) {
    case iiop::MsgType::kRequest:
      serveRequest(channel, *session, reader);
      break;
    case iiop::MsgType::kLocateRequest:
      locate(channel, *session, reader);
      break;
    case iiop::MsgType::kReply:
    case iiop::MsgType::kLocateReply:
      orb_.iiopReplyArrived(channel, message);
      break;
    default:  // CancelRequest: the reply goes out all the same
      break;
  }
}

void IiopProtocol::serveRequest(Channel& channel, Session& session,
                                iiop::MessageReader& message) {
  iiop::RequestHeader giop;
  if (iiop::getRequestHeader(*message.body, giop) != nullptr) {
    send(channel, iiop::messageError());
    return;
  }
  protocol::RequestHeader header;
  if (Status st = iiop::dispatchHeader(giop, header)) {
    if (giop.response_expected) {
      send(channel, iiop::systemExceptionReply(giop.request_id, *st));
    }
    return;
  }
  if (answerBuiltIn(channel, header, *message.body)) return;
  protocol::PeerInfo peer = session.info;
  peer.user_name = iiop::keyText(giop.requesting_principal);
  const protocol::ReplySink later = laterSink(channel);
  std::optional<Bytes> reply = orb_.dispatcher_.dispatch(
      peer, std::move(header), *message.body, replies_, &later);
  if (reply) send(channel, std::move(*reply));
}

bool IiopProtocol::answerBuiltIn(Channel& channel,
                                 const protocol::RequestHeader& header,
                                 protocol::CdrDecoder& args) {
  const bool is_a = header.operation == iiop::kIsA;
  if (!is_a && header.operation != iiop::kNonExistent) return false;
  const std::string iface = header.interface_name.value_or("");
  // An object that is not here is the dispatcher's (and its failure
  // hooks') to answer.
  if (orb_.dispatcher_.objects().find(iface, header.marker.value_or("")) ==
      nullptr) {
    return false;
  }
  bool answer = false;
  if (is_a) {
    std::optional<std::string> type_id;
    if (!args.getString(type_id)) {
      if (header.response_expected) {
        send(channel,
             iiop::systemExceptionReply(header.request_id, *args.error()));
      }
      return true;
    }
    answer = type_id == iiop::typeId(iface) || type_id == iiop::kObjectTypeId;
  }
  if (header.response_expected) {
    send(channel, iiop::booleanReply(header.request_id, answer));
  }
  return true;
}

void IiopProtocol::locate(Channel& channel, Session& session,
                          iiop::MessageReader& message) {
  iiop::LocateRequestHeader giop;
  if (iiop::getLocateRequestHeader(*message.body, giop) != nullptr) {
    send(channel, iiop::messageError());
    return;
  }
  iiop::RequestHeader as_request;
  as_request.request_id = giop.request_id;
  as_request.object_key = giop.object_key;
  as_request.operation = "_locate";
  protocol::RequestHeader header;
  if (iiop::dispatchHeader(as_request, header) != nullptr) {
    iiop::MessageWriter w(iiop::MsgType::kLocateReply);
    iiop::putLocateReplyHeader(
        w.body(), {giop.request_id, iiop::LocateStatus::kUnknownObject});
    send(channel, w.finish());
    return;
  }
  const protocol::ReplySink later = laterSink(channel);
  std::optional<Bytes> reply = orb_.dispatcher_.locate(
      session.info, std::move(header), locates_, &later);
  if (reply) send(channel, std::move(*reply));
}

protocol::ReplySink IiopProtocol::laterSink(const Channel& channel) {
  const std::uint64_t id = channel.id();
  return [this, id](Bytes reply) {
    if (Channel* ch = orb_.loop_.channel(id)) send(*ch, std::move(reply));
  };
}

void IiopProtocol::send(Channel& channel, Bytes message) {
  orb_.loop_.send(channel, std::move(message));
}

}  // namespace talvo
