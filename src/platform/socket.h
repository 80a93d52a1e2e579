// BSD stream sockets over IPv4, as the broker's transport uses them.
//
// Every socket made here is non-blocking and close-on-exec. Functions return
// 0 on success or the WinSock code of the failure (see errors.h), never
// errno; sends never raise SIGPIPE. SocketHandle owns a descriptor and
// closes it when destroyed. Host name resolution (forward and reverse) and
// the peer address of a connection live here too, for the access checks.
//
// Thread safety: the functions keep no state; a SocketHandle is a plain
// value owned by one thread at a time.

#ifndef TALVO_PLATFORM_SOCKET_H_
#define TALVO_PLATFORM_SOCKET_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace talvo::platform {

// An IPv4 address and port, both in host byte order.
struct SocketAddress {
  std::uint32_t address = 0;
  std::uint16_t port = 0;

  // "a.b.c.d".
  std::string dotted() const;
  // True for 127.0.0.0/8.
  bool isLoopback() const { return (address >> 24) == 127; }
};

// What the kernel says of the process at the other end of a local
// connection.
struct PeerCredentials {
  std::uint32_t uid = 0;
  std::uint32_t gid = 0;
  std::int32_t pid = 0;
};

// Who is at the other end of one connection, taken once when it is
// accepted or connected and carried with its requests, so that nothing
// above the transport needs the socket to ask.
struct PeerIdentity {
  SocketAddress peer;   // the other end
  SocketAddress local;  // this end
  // The transport's number for the connection (never reused; 0: none).
  std::uint64_t channel = 0;
  // The descriptor number the connection had, for trace lines that name
  // it; never used to reach the socket (-1: none).
  int descriptor = -1;
  // The kernel's credentials of a local peer, when it gives them.
  std::optional<PeerCredentials> credentials;
  // True for a peer on this host: the kernel holds its socket, or its
  // address is a loopback one or this end's own.
  bool on_this_host = false;
  // For a peer on this host: the user id that owns its socket, as the
  // kernel tells it (SO_PEERCRED, or the socket tables for TCP), and that
  // user's name (userNameOf). Absent for a peer on another host, and for
  // one whose socket no process holds any more.
  std::optional<std::uint32_t> local_uid;
  std::string local_user;
};

// What the kernel knows of a socket of this host: the user owning it, when
// a process still holds it.
struct SocketOwner {
  std::optional<std::uint32_t> uid;
};

// Owns one socket descriptor (-1 when empty).
class SocketHandle {
 public:
  SocketHandle() = default;
  explicit SocketHandle(int fd) : fd_(fd) {}
  ~SocketHandle() { reset(); }
  SocketHandle(SocketHandle&& other) noexcept : fd_(other.release()) {}
  SocketHandle& operator=(SocketHandle&& other) noexcept;
  SocketHandle(const SocketHandle&) = delete;
  SocketHandle& operator=(const SocketHandle&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Gives up ownership; the caller closes the descriptor.
  int release();
  // Closes the descriptor (if any); returns close()'s WinSock code.
  int reset();

 private:
  int fd_ = -1;
};

// Creates a non-blocking, close-on-exec IPv4 stream socket into `out`.
int openStreamSocket(SocketHandle& out);
// Lets a restarted listener bind its port while old connections linger.
int setReuseAddress(int fd);
// Disables Nagle's algorithm (frames are written whole).
int setNoDelay(int fd);
// Binds to any local address and `port` (0: the system picks one).
int bindAny(int fd, std::uint16_t port);
int listenOn(int fd, int backlog);
// The longest accept queue the system grants (net.core.somaxconn, else
// SOMAXCONN), read once.
int systemListenBacklog();
// The most descriptors this process may hold open (its soft limit).
std::size_t descriptorLimit();

// Starts a connect; 0 when connected at once, kWsaEinprogress when it goes
// on in the background, else the failure. Interruptions are retried.
int startConnect(int fd, const SocketAddress& to);
// Waits up to `timeout_ms` (negative: no limit) for a started connect to end
// and returns its result (kWsaEtimedout when the time runs out).
int finishConnect(int fd, int timeout_ms);
// The result of a started connect once its socket is writable.
int connectResult(int fd);

// Accepts one connection as a non-blocking, close-on-exec socket. Returns
// kWsaEwouldblock when none is waiting.
int acceptConnection(int listen_fd, SocketHandle& out, SocketAddress& peer);

// Sends as much of `pieces` as the socket takes now; `sent` gets the byte
// count. kWsaEwouldblock when it takes nothing.
int sendPieces(int fd, std::span<const std::span<const std::uint8_t>> pieces,
               std::size_t& sent);
// Receives up to `buffer.size()` bytes; `received` is 0 at end of stream.
// kWsaEwouldblock when nothing is waiting.
int receiveSome(int fd, std::span<std::uint8_t> buffer, std::size_t& received);

// Shuts down both directions.
int shutdownBoth(int fd);

// The addresses at both ends of a connected or bound socket.
int peerAddress(int fd, SocketAddress& out);
int localAddress(int fd, SocketAddress& out);
// The identity of the connected socket `fd` whose peer is `peer`: both
// addresses and, for a local peer, the kernel's credentials (SO_PEERCRED;
// absent where the kernel has none to give, as for TCP) and the owner of
// the peer's socket (see socketOwner). One look-up per connection.
PeerIdentity identifyPeer(int fd, const SocketAddress& peer);

// The user id owning the TCP socket of this host whose own end is `end`
// and whose other end is `other`, found through the kernel's socket
// diagnostics (IPv4 sockets, and IPv6 sockets speaking to an IPv4-mapped
// address). Absent when this host (this network namespace) holds no such
// socket: the peer is elsewhere, or has gone.
std::optional<SocketOwner> socketOwner(const SocketAddress& end,
                                       const SocketAddress& other);

// True (and the address) when `host` is a dotted IPv4 address; never looks
// anything up.
bool parseDotted(const std::string& host, std::uint32_t& address);
// Resolves a host: a dotted address first, else the first IPv4 address of
// the name. Failure: 11001 to 11004 (or a system error's code).
int resolveHost(const std::string& host, std::uint32_t& address);
// The name of an address (reverse lookup); fails when it has none.
int reverseLookup(std::uint32_t address, std::string& name);

// One descriptor of a wait, with the events asked for and those that
// happened (the poll(2) bits).
struct WaitEntry {
  int fd = -1;
  short events = 0;
  short revents = 0;
};
inline constexpr short kWaitRead = 0x001;     // POLLIN
inline constexpr short kWaitWrite = 0x004;    // POLLOUT
inline constexpr short kWaitError = 0x008;    // POLLERR
inline constexpr short kWaitHangUp = 0x010;   // POLLHUP
inline constexpr short kWaitInvalid = 0x020;  // POLLNVAL

// Waits up to `timeout_ms` (negative: no limit) until an entry is ready;
// `ready` gets the number of ready entries (0 on time-out). Interruptions
// restart the wait with the time that is left.
int waitForEvents(std::vector<WaitEntry>& entries, int timeout_ms, int& ready);

}  // namespace talvo::platform

#endif  // TALVO_PLATFORM_SOCKET_H_
