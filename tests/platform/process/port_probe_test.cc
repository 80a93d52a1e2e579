#include "platform/port_probe.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

namespace talvo::platform {
namespace {

// A port bound on `address` is busy for the probe (which binds every
// address) until its socket closes.
TEST(PortProbeRoundTrip, BusyWhileBoundOnAnyAddress) {
  for (in_addr_t address : {INADDR_ANY, INADDR_LOOPBACK}) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(address);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t size = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    std::uint16_t port = ntohs(a.sin_port);
    EXPECT_FALSE(isPortFree(port));
    ::close(fd);
    EXPECT_TRUE(isPortFree(port));
  }
}

}  // namespace
}  // namespace talvo::platform
