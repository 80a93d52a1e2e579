// Port probing: whether a TCP port can be bound on this host right now.
//
// Thread safety: free of shared state; callable from any thread.

#ifndef TALVO_PLATFORM_PORT_PROBE_H_
#define TALVO_PLATFORM_PORT_PROBE_H_

#include <cstdint>

namespace talvo::platform {

// True when a TCP socket can be bound to `port` on every local IPv4 address
// (the socket is closed again at once). A socket that cannot be created
// counts as a busy port.
bool isPortFree(std::uint16_t port);

}  // namespace talvo::platform

#endif  // TALVO_PLATFORM_PORT_PROBE_H_
