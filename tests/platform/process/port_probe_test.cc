#include "platform/port_probe.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace talvo::platform {
namespace {

// A listening socket on a port the kernel picks; closed on destruction.
struct Listener {
  int fd = -1;
  std::uint16_t port = 0;
  explicit Listener(in_addr_t address) {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(address);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return;
    ::listen(fd, 1);
    socklen_t size = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    port = ntohs(a.sin_port);
  }
  ~Listener() { ::close(fd); }
};

TEST(PortProbeRoundTrip, BusyWhileBoundFreeAfterClose) {
  std::uint16_t port;
  {
    Listener listener(INADDR_ANY);
    ASSERT_NE(listener.port, 0);
    port = listener.port;
    EXPECT_FALSE(isPortFree(port));
  }
  EXPECT_TRUE(isPortFree(port));
}

TEST(PortProbeBoundary, PortBoundOnLoopbackOnlyIsBusy) {
  Listener listener(INADDR_LOOPBACK);
  ASSERT_NE(listener.port, 0);
  EXPECT_FALSE(isPortFree(listener.port));
}

}  // namespace
}  // namespace talvo::platform
