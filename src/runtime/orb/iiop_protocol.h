// IiopProtocol: the Orb's IIOP protocol object, registered by every Orb
// under the name "IIOP". It reads each GIOP message of a connection whose
// first bytes were "GIOP", checks it and serves it:
//  - a first word other than "GIOP": the channel is closed with
//    COMM_FAILURE 10089;
//  - a version other than 1.0: a MessageError is sent, the message dropped;
//  - a body-less MessageError closes the channel with IIOP 10602, a
//    CloseConnection with IIOP 10604 (the channel's server name as detail),
//    a body-less message of another type with COMM_FAILURE 10089;
//  - a type above 6: MessageError sent, message dropped;
//  - Request and Reply pass the Orb's integrity check (COMM_FAILURE 10097);
//  - Request: dispatched through the Orb's dispatcher with the peer's
//    protocol IIOP and the requesting principal as its user name; "_is_a"
//    and "_non_existent" are answered for every served object;
//  - LocateRequest: OBJECT_HERE for a served object, else what the failure
//    hooks make of INV_OBJREF 10101 (OBJECT_FORWARD or UNKNOWN_OBJECT);
//  - CancelRequest: ignored; Reply and LocateReply: the Orb's calling half.
// A message whose header cannot be read is answered with a MessageError.
//
// Thread safety: none; it runs on the Orb's thread.

#ifndef TALVO_RUNTIME_ORB_IIOP_PROTOCOL_H_
#define TALVO_RUNTIME_ORB_IIOP_PROTOCOL_H_

#include "runtime/iiop/giop.h"
#include "runtime/iiop/replies.h"
#include "runtime/orb/orb.h"

namespace talvo {

class IiopProtocol : public IiopHandler {
 public:
  explicit IiopProtocol(Orb& orb);
  void onMessage(Channel& channel, ByteView message) override;

  // The writers of replies to requests and locate requests.
  const iiop::ReplyWriter& replies() const { return replies_; }

 private:
  void serveRequest(Channel& channel, Session& session,
                    iiop::MessageReader& message);
  void locate(Channel& channel, Session& session, iiop::MessageReader& message);
  // Answers `_is_a` or `_non_existent` for a served object; false when the
  // request is not one of them or its object is not served here.
  bool answerBuiltIn(Channel& channel, const protocol::RequestHeader& header,
                     protocol::CdrDecoder& args);
  protocol::ReplySink laterSink(const Channel& channel);
  void send(Channel& channel, Bytes message);

  Orb& orb_;
  iiop::ReplyWriter replies_;
  iiop::LocateReplyWriter locates_;
};

}  // namespace talvo

#endif  // TALVO_RUNTIME_ORB_IIOP_PROTOCOL_H_
