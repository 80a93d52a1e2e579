// The message table of the service's event-log source: messages 100 to 108
// and their texts, with "%1" to "%3" standing for insertion strings.
//
// Thread safety: pure functions over constant data.

#ifndef TALVO_SERVICE_EVENT_MESSAGES_H_
#define TALVO_SERVICE_EVENT_MESSAGES_H_

#include <string>
#include <vector>

namespace talvo::service {

enum EventMessage : int {
  EVMSG_INSTALLED = 100,
  EVMSG_REMOVED = 101,
  EVMSG_NOTREMOVED = 102,
  EVMSG_CTRLHANDLERNOTINSTALLED = 103,
  EVMSG_FAILEDINIT = 104,
  EVMSG_STARTED = 105,
  EVMSG_BADREQUEST = 106,
  EVMSG_DEBUG = 107,
  EVMSG_STOPPED = 108,
};

// The text of message `id` as the table holds it (ending in "\r\n"), or
// null for an id outside 100 to 108.
const char* eventMessageTemplate(int id);

// The text of message `id` with "%1", "%2", "%3" replaced by the insertion
// strings given (a missing one leaves its marker as it stands). An unknown
// id gives a text naming the id.
std::string formatEventMessage(int id, const std::vector<std::string>& inserts);

}  // namespace talvo::service

#endif  // TALVO_SERVICE_EVENT_MESSAGES_H_
