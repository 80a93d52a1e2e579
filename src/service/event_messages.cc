#include "service/event_messages.h"

namespace talvo::service {

const char* eventMessageTemplate(int id) {
  switch (id) {
    case EVMSG_INSTALLED:
      return "The %1 service was installed.\r\n";
    case EVMSG_REMOVED:
      return "The %1 service was removed.\r\n";
    case EVMSG_NOTREMOVED:
      return "The %1 service could not be removed.\r\n";
    case EVMSG_CTRLHANDLERNOTINSTALLED:
      return "The control handler could not be installed.\r\n";
    case EVMSG_FAILEDINIT:
      return "The initialization process failed.\r\n";
    case EVMSG_STARTED:
      return "The service was started.\r\n";
    case EVMSG_BADREQUEST:
      return "The service received an unsupported request.\r\n";
    case EVMSG_DEBUG:
      return "Debug: %1\r\n";
    case EVMSG_STOPPED:
      return "The service was stopped.\r\n";
    default:
      return nullptr;
  }
}

std::string formatEventMessage(int id,
                               const std::vector<std::string>& inserts) {
  const char* text = eventMessageTemplate(id);
  if (text == nullptr) {
    return "The description for event " + std::to_string(id) +
           " cannot be found.\r\n";
  }
  std::string out;
  for (const char* p = text; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] >= '1' && p[1] <= '3') {
      size_t index = static_cast<size_t>(p[1] - '1');
      if (index < inserts.size()) {
        out += inserts[index];
        ++p;
        continue;
      }
    }
    out += *p;
  }
  return out;
}

}  // namespace talvo::service
