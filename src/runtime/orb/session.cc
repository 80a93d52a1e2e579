#include "runtime/orb/session.h"

namespace talvo {

std::string Session::newConnectionText(const Channel& channel) const {
  if (info.protocol == protocol::ProtocolKind::kIiop) {
    return "New IIOP Connection (" + info.host_name + ":" + peer_description +
           ") ]";
  }
  return "New Connection (" + info.host_name + "," + info.server_name + "," +
         info.marker + "," + channel.description() +
         ",pid=" + std::to_string(info.pid) +
         (info.optimised ? ",optimised) ]" : ") ]");
}

std::string Session::endConnectionText(const Channel& channel) const {
  if (info.protocol == protocol::ProtocolKind::kIiop) {
    return "End of IIOP Connection (" + info.host_name + ":" +
           peer_description + ") ]";
  }
  std::string text = "End of Connection (" + info.host_name + "," +
                     info.server_name + "," + info.marker + "," +
                     channel.description();
  if (info.pid != 0) text += ",pid=" + std::to_string(info.pid);
  return text + ") ]";
}

}  // namespace talvo
