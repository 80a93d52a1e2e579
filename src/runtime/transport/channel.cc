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
  return identity_.peer.dotted() + ":" + std::to_string(identity_.peer.port);
}

}  // namespace talvo
