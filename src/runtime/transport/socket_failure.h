// How socket failures become CORBA exceptions.
//
// A failed socket call yields a WinSock code (platform/errors.h); the
// transport turns it into CORBA::COMM_FAILURE with the minor code of the
// operation that failed and the detail "Windows Sockets Error: NAME". A
// failure of the socket interface itself (rather than of one call) is
// COMM_FAILURE 10088 with a "WSI Error: " detail.
//
// Thread safety: pure functions.

#ifndef TALVO_RUNTIME_TRANSPORT_SOCKET_FAILURE_H_
#define TALVO_RUNTIME_TRANSPORT_SOCKET_FAILURE_H_

#include <cstdint>
#include <string>

#include "runtime/except/exception.h"

namespace talvo {

// Minor codes of COMM_FAILURE raised by the transport.
inline constexpr std::uint32_t kMinorReceive = 10082;    // receive
inline constexpr std::uint32_t kMinorSend = 10083;       // accept, send
inline constexpr std::uint32_t kMinorWait = 10084;       // event wait
inline constexpr std::uint32_t kMinorRefused = 10085;    // connect refused
inline constexpr std::uint32_t kMinorNoHost = 10086;     // host unresolvable
inline constexpr std::uint32_t kMinorTimeout = 10087;    // time-out, idle wait
inline constexpr std::uint32_t kMinorSocket = 10088;     // socket, bind, ...
inline constexpr std::uint32_t kMinorFrame = 10089;      // bad or large frame
inline constexpr std::uint32_t kMinorBinding = 10090;    // binding exchange
inline constexpr std::uint32_t kMinorConnect = 10091;    // other connect error
inline constexpr std::uint32_t kMinorIntegrity = 10097;  // integrity check
// BAD_PARAM minor code for a protocol that is not registered.
inline constexpr std::uint32_t kMinorNoProtocol = 10034;
// SSL_FAILURE minor code for a connect that needs the absent secure
// transport.
inline constexpr std::uint32_t kMinorNoSecureTransport = 16122;

// "Windows Sockets Error: " and the symbolic name of `code`.
std::string socketErrorText(int code);

// The text of the last error as callers that show it directly use it: the
// socketErrorText() of `code`, or "Unknown Winsock error." for code 0.
std::string lastErrorText(int code);

// COMM_FAILURE with `minor`, COMPLETED_NO and socketErrorText(code).
Status socketFailure(std::uint32_t minor, int code);

// Sub-codes of a failure of the socket interface itself.
enum class WsiError {
  kCancelled,       // "Synchronous Operation Cancelled"
  kTimeout,         // "Synchronous Operation Timeout"
  kReentry,         // "Synchronous Operation Reentry"
  kNotInitialized,  // "Winsock Interface Not Initialized"
  kInvalidSocket,   // "Operation On Invalid Socket"
};

// COMM_FAILURE 10088 with "WSI Error: " and the sub-code's text; a value
// outside the enumeration reads "Unknown Error Type".
Status wsiFailure(WsiError error);

}  // namespace talvo

#endif  // TALVO_RUNTIME_TRANSPORT_SOCKET_FAILURE_H_
