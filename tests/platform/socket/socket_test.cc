// The socket layer over real loopback sockets.

#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/system_info.h"

namespace talvo::platform {
namespace {

constexpr std::uint32_t kLoopback = 0x7f000001;

struct Pair {
  SocketHandle listener, client, server;
  std::uint16_t port = 0;
};

// A listener on an ephemeral port, a client connected to it and the
// accepted end.
Pair connectedPair() {
  Pair p;
  EXPECT_EQ(openStreamSocket(p.listener), 0);
  EXPECT_EQ(bindAny(p.listener.get(), 0), 0);
  EXPECT_EQ(listenOn(p.listener.get(), 5), 0);
  SocketAddress local;
  EXPECT_EQ(localAddress(p.listener.get(), local), 0);
  p.port = local.port;
  EXPECT_EQ(openStreamSocket(p.client), 0);
  int code = startConnect(p.client.get(), {kLoopback, p.port});
  if (code == kWsaEinprogress) code = finishConnect(p.client.get(), 5000);
  EXPECT_EQ(code, 0);
  std::vector<WaitEntry> wait{{p.listener.get(), kWaitRead, 0}};
  int ready = 0;
  EXPECT_EQ(waitForEvents(wait, 5000, ready), 0);
  SocketAddress peer;
  EXPECT_EQ(acceptConnection(p.listener.get(), p.server, peer), 0);
  EXPECT_TRUE(peer.isLoopback());
  return p;
}

TEST(SocketRoundTrip, SocketsAreNonBlockingAndCloseOnExec) {
  Pair p = connectedPair();
  for (int fd : {p.listener.get(), p.client.get(), p.server.get()}) {
    EXPECT_TRUE(::fcntl(fd, F_GETFL) & O_NONBLOCK);
    EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
  }
  std::vector<std::uint8_t> buf(16);
  std::size_t got = 0;
  EXPECT_EQ(receiveSome(p.server.get(), buf, got), kWsaEwouldblock);
}

// A connection's identity: both addresses, kernel credentials only where
// the kernel has them (a local socket pair, not TCP), and the owner of a
// local peer's socket either way, once, at the start.
TEST(SocketRoundTrip, PeerIdentityOfTcpAndLocalConnections) {
  Pair p = connectedPair();
  SocketAddress client;
  ASSERT_EQ(localAddress(p.client.get(), client), 0);
  const PeerIdentity tcp = identifyPeer(p.server.get(), client);
  EXPECT_EQ(tcp.peer.port, client.port);
  EXPECT_EQ(tcp.local.port, p.port);
  EXPECT_EQ(tcp.local.address, kLoopback);
  EXPECT_EQ(tcp.descriptor, p.server.get());
  EXPECT_FALSE(tcp.credentials.has_value());
  EXPECT_TRUE(tcp.on_this_host);
  ASSERT_TRUE(tcp.local_uid.has_value());
  EXPECT_EQ(*tcp.local_uid, ::geteuid());
  EXPECT_EQ(tcp.local_user, userNameOf(::geteuid()));
  // The same pair seen from the wrong end, or a pair nobody holds: no
  // owner (a peer elsewhere).
  EXPECT_FALSE(socketOwner({kLoopback, 1}, {kLoopback, 2}).has_value());
  // A peer on an IPv6 socket speaking to the IPv4-mapped address is found
  // too, so it cannot pass for a peer on another host.
  int six = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(six, 0);
  SocketHandle v6(six);
  sockaddr_in6 to{};
  to.sin6_family = AF_INET6;
  to.sin6_port = htons(p.port);
  ASSERT_EQ(::inet_pton(AF_INET6, "::ffff:127.0.0.1", &to.sin6_addr), 1);
  ASSERT_EQ(::connect(six, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  sockaddr_in6 mine{};
  socklen_t len = sizeof mine;
  ASSERT_EQ(::getsockname(six, reinterpret_cast<sockaddr*>(&mine), &len), 0);
  std::optional<SocketOwner> owner =
      socketOwner({kLoopback, ntohs(mine.sin6_port)}, {kLoopback, p.port});
  ASSERT_TRUE(owner.has_value());
  EXPECT_EQ(owner->uid, std::optional<std::uint32_t>(::geteuid()));
  // Once its process has closed it, the socket names nobody (the kernel
  // would report a closing socket as root's).
  SocketAddress client_end;
  ASSERT_EQ(localAddress(p.client.get(), client_end), 0);
  p.client.reset();
  owner = socketOwner(client_end, {kLoopback, p.port});
  EXPECT_FALSE(owner && owner->uid.has_value());
  int ends[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
  SocketHandle a(ends[0]), b(ends[1]);
  const PeerIdentity local = identifyPeer(a.get(), {});
  ASSERT_TRUE(local.credentials.has_value());
  EXPECT_EQ(local.credentials->pid, ::getpid());
  EXPECT_EQ(local.credentials->uid, ::getuid());
}

TEST(SocketRoundTrip, ResolvesDottedAndNamedHosts) {
  std::uint32_t address = 0;
  ASSERT_EQ(resolveHost("127.0.0.1", address), 0);
  EXPECT_EQ(address, kLoopback);
  ASSERT_EQ(resolveHost("localhost", address), 0);
  EXPECT_EQ(address >> 24, 127u);
  std::string name;
  EXPECT_EQ(reverseLookup(kLoopback, name), 0);
  EXPECT_FALSE(name.empty());
}

TEST(SocketErrors, SendToAClosedPeerFailsWithoutSigpipe) {
  Pair p = connectedPair();
  p.server.reset();
  // The first send may still succeed; the peer's reset makes a later one
  // fail. The process must survive both.
  int code = 0;
  for (int i = 0; i < 50 && code == 0; ++i) {
    std::string data(4096, 'x');
    std::span<const std::uint8_t> piece(
        reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
    std::size_t sent = 0;
    code = sendPieces(p.client.get(), std::span(&piece, 1), sent);
    if (code == 0) {
      std::vector<WaitEntry> wait{{p.client.get(), kWaitRead, 0}};
      int ready = 0;
      waitForEvents(wait, 50, ready);
    }
  }
  EXPECT_EQ(code, kWsaEconnreset);
}

}  // namespace
}  // namespace talvo::platform
