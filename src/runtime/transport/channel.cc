#include "runtime/transport/channel.h"

namespace talvo {

Channel* Channel::typeQuery(std::string_view class_name) {
  return class_name == "Channel" ? this : nullptr;
}

Channel* TalvoChannel::typeQuery(std::string_view class_name) {
  return class_name == "TalvoChannel" ? this : Channel::typeQuery(class_name);
}

Channel* TalvoTCPChannel::typeQuery(std::string_view class_name) {
  return class_name == "TalvoTCPChannel" ? this
                                         : TalvoChannel::typeQuery(class_name);
}

std::string TalvoTCPChannel::description() const {
  return peer_.dotted() + ":" + std::to_string(peer_.port);
}

std::string Channel::newConnectionText() const {
  if (protocol_kind_ == kIiopProtocolKind) {
    return "New IIOP Connection (" + host_name_ + ":" + peer_description_ +
           ") ]";
  }
  return "New Connection (" + host_name_ + "," + server_name_ + "," + marker_ +
         "," + description() + ",pid=" + std::to_string(process_id_) +
         (optimised_ ? ",optimised) ]" : ") ]");
}

std::string Channel::endConnectionText() const {
  if (protocol_kind_ == kIiopProtocolKind) {
    return "End of IIOP Connection (" + host_name_ + ":" + peer_description_ +
           ") ]";
  }
  std::string text = "End of Connection (" + host_name_ + "," + server_name_ +
                     "," + marker_ + "," + description();
  if (process_id_ != 0) text += ",pid=" + std::to_string(process_id_);
  return text + ") ]";
}

}  // namespace talvo
