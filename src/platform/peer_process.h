// Which process holds the other end of a TCP connection between two
// processes of this host. A peer can report any process id it likes; before
// the daemon signals a process on a peer's word it asks the system whether
// that process really holds the peer's socket.
//
// Linux only: the peer's socket is found in /proc/net/tcp (IPv4) by its
// address pair, then among the descriptors of /proc/<pid>/fd.
//
// Thread safety: free of shared state; callable from any thread.

#ifndef TALVO_PLATFORM_PEER_PROCESS_H_
#define TALVO_PLATFORM_PEER_PROCESS_H_

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/socket.h"

namespace talvo::platform {

// True when process `pid` holds the other end of the connected IPv4 TCP
// socket `fd` (both ends on this host). False when it does not, when the
// connection is gone, when `pid` is not above 0, or when the system does not
// let this process look (another user's process without the privilege to
// see its descriptors): only a confirmed holder counts.
bool connectionPeerHeldBy(int fd, pid_t pid);
// The same for the connection between `local` (this end) and `remote`
// (host byte order), without asking a socket.
bool connectionPeerHeldBy(const SocketAddress& local,
                          const SocketAddress& remote, pid_t pid);

// The inode of the socket whose local end is local_address:local_port and
// remote end remote_address:remote_port in a /proc/net/tcp listing
// (addresses and ports in host byte order); absent when no line matches or
// the socket has no inode left (closed by its process). Exposed for the
// tests.
std::optional<std::uint64_t> findTcpSocketInode(std::string_view listing,
                                                std::uint32_t local_address,
                                                std::uint16_t local_port,
                                                std::uint32_t remote_address,
                                                std::uint16_t remote_port);

}  // namespace talvo::platform

#endif  // TALVO_PLATFORM_PEER_PROCESS_H_
