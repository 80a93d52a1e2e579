#include "runtime/transport/socket_failure.h"

#include "platform/errors.h"

namespace talvo {

std::string socketErrorText(int code) {
  return std::string("Windows Sockets Error: ") +
         platform::winsockErrorName(code);
}

std::string lastErrorText(int code) {
  if (code == 0) return "Unknown Winsock error.";
  return socketErrorText(code);
}

Status socketFailure(std::uint32_t minor, int code) {
  return fail<CORBA::COMM_FAILURE>(minor, socketErrorText(code));
}

Status wsiFailure(WsiError error) {
  const char* text = "Unknown Error Type";
  switch (error) {
    case WsiError::kCancelled:
      text = "Synchronous Operation Cancelled";
      break;
    case WsiError::kTimeout:
      text = "Synchronous Operation Timeout";
      break;
    case WsiError::kReentry:
      text = "Synchronous Operation Reentry";
      break;
    case WsiError::kNotInitialized:
      text = "Winsock Interface Not Initialized";
      break;
    case WsiError::kInvalidSocket:
      text = "Operation On Invalid Socket";
      break;
  }
  return fail<CORBA::COMM_FAILURE>(kMinorSocket,
                                   std::string("WSI Error: ") + text);
}

}  // namespace talvo
