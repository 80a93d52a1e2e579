#include "platform/peer_process.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/process.h"
#include "probe_support.h"
#include "support/ports.h"

namespace talvo::platform {
namespace {

// A loopback connection made in this process: `client` and the accepted
// `served` end.
struct Connection {
  talvo::testing::LoopbackListener listener;
  int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), served = -1;
  Connection() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(listener.port());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a);
    served = ::accept4(listener.fd(), nullptr, nullptr, SOCK_CLOEXEC);
  }
  ~Connection() {
    for (int fd : {client, served})
      if (fd >= 0) ::close(fd);
  }
};

// Round trips.

TEST(PeerProcessRoundTrip, OnlyAProcessHoldingThePeerSocketCounts) {
  Connection c;
  ASSERT_GE(c.served, 0);
  EXPECT_TRUE(connectionPeerHeldBy(c.served, ::getpid()));
  EXPECT_TRUE(connectionPeerHeldBy(c.client, ::getpid()));  // either way

  // A child that inherited the client end holds it too; a started program
  // (which gets descriptors 0-2 only) does not.
  const pid_t holder = ::fork();
  if (holder == 0) {
    ::pause();
    ::_exit(0);
  }
  testing::TempDir dir;
  SpawnResult other = spawnProcess(
      std::string(TALVO_LAUNCH_PROBE) + " " + dir.file("r") + " 30", {});
  ASSERT_TRUE(other.ok());
  EXPECT_TRUE(connectionPeerHeldBy(c.served, holder));
  EXPECT_FALSE(connectionPeerHeldBy(c.served, other.pid));
  killChildAndWait(other.pid);
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);

  // Once the peer has closed its end nobody holds it.
  ::close(c.client);
  c.client = -1;
  EXPECT_FALSE(connectionPeerHeldBy(c.served, ::getpid()));
}

TEST(PeerProcessRoundTrip, InodeOfTheExactAddressPairIsFound) {
  const std::string listing =
      "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when "
      "retrnsmt   uid  timeout inode\n"
      "   0: 0100007F:1F90 00000000:0000 0A 00000000:00000000 00:00000000 "
      "00000000     0        0 111 1 0000000000000000 100 0 0 10 0\n"
      "   1: 0100007F:1F90 0100007F:C350 01 00000000:00000000 00:00000000 "
      "00000000     0        0 222 1 0000000000000000 20 4 30 10 -1\n"
      "   2: 0100007F:C350 0100007F:1F90 01 00000000:00000000 00:00000000 "
      "00000000     0        0 333 1 0000000000000000 20 4 30 10 -1\n"
      "   3: 0100007F:C351 0100007F:1F90 06 00000000:00000000 03:00000000 "
      "00000000     0        0 0 3 0000000000000000\n";
  const std::uint32_t lo = 0x7F000001;
  // 127.0.0.1:50000 talking to 127.0.0.1:8080, not the reverse.
  EXPECT_EQ(findTcpSocketInode(listing, lo, 50000, lo, 8080), 333u);
  EXPECT_EQ(findTcpSocketInode(listing, lo, 8080, lo, 50000), 222u);
  // An orphaned socket (inode 0) and unknown pairs are not found.
  EXPECT_FALSE(findTcpSocketInode(listing, lo, 50001, lo, 8080));
  EXPECT_FALSE(findTcpSocketInode(listing, lo + 1, 50000, lo, 8080));
}

// Error paths.

TEST(PeerProcessError, NoProofMeansFalse) {
  Connection c;
  EXPECT_FALSE(connectionPeerHeldBy(c.served, 0));
  EXPECT_FALSE(connectionPeerHeldBy(c.served, -1));
  EXPECT_FALSE(connectionPeerHeldBy(c.listener.fd(), ::getpid()));  // no peer
  EXPECT_FALSE(connectionPeerHeldBy(-1, ::getpid()));
  EXPECT_FALSE(findTcpSocketInode("", 1, 2, 3, 4));
  EXPECT_FALSE(findTcpSocketInode("head\ngarbage line\n", 1, 2, 3, 4));
}

}  // namespace
}  // namespace talvo::platform
