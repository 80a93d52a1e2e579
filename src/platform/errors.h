// Translation of operating-system error numbers into WinSock error codes.
//
// The broker reports every socket failure with the WinSock code and its
// symbolic name ("WSAECONNREFUSED" for 10061), so that minor codes and
// detail texts read the same on every platform. This file is the one place
// where errno values and resolver (getaddrinfo) results become such codes;
// every other layer works with the codes only.
//
// Thread safety: all functions are pure or read only the calling thread's
// errno.

#ifndef TALVO_PLATFORM_ERRORS_H_
#define TALVO_PLATFORM_ERRORS_H_

#include <system_error>

namespace talvo::platform {

// Some WinSock codes that callers test for by value.
inline constexpr int kWsaEintr = 10004;
inline constexpr int kWsaEwouldblock = 10035;
inline constexpr int kWsaEinprogress = 10036;
inline constexpr int kWsaEaddrinuse = 10048;
inline constexpr int kWsaEconnreset = 10054;
inline constexpr int kWsaEtimedout = 10060;
inline constexpr int kWsaEconnrefused = 10061;
inline constexpr int kWsaNotInitialised = 10093;
inline constexpr int kWsaHostNotFound = 11001;
inline constexpr int kWsaTryAgain = 11002;
inline constexpr int kWsaNoRecovery = 11003;
inline constexpr int kWsaNoData = 11004;

// Codes from kUnmappedBase on stand for errno values with no WinSock
// counterpart (kUnmappedBase + errno); their name reads "UNKNOWN".
inline constexpr int kUnmappedBase = 20000;

// The WinSock code matching an errno value; 0 stays 0 (no error).
int winsockCodeFromErrno(int err);

// The WinSock code of the calling thread's current errno.
int lastWinsockCode();

// The calling thread's current errno as an error code (file operations).
std::error_code lastError();

// The WinSock code of a getaddrinfo()/getnameinfo() result (EAI_*):
// EAI_NONAME 11001, EAI_AGAIN 11002, EAI_FAIL 11003, EAI_NODATA and
// EAI_ADDRFAMILY 11004, EAI_SYSTEM the errno given, EAI_MEMORY WSAENOBUFS,
// anything else 11003. 0 stays 0.
int winsockCodeFromResolver(int eai_error, int saved_errno);

// The standard symbolic name of a WinSock 1.1 code ("WSAEINTR" ...
// "WSANO_DATA"; 11004 reads "WSANO_DATA"), or "UNKNOWN" for any code not in
// the table. The returned text is static.
const char* winsockErrorName(int code);

}  // namespace talvo::platform

#endif  // TALVO_PLATFORM_ERRORS_H_
