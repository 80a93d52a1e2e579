// Who owns a TCP socket of this host: the kernel's socket diagnostics
// (NETLINK_SOCK_DIAG), asked for the one socket of a given address pair.
#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "platform/owned_fd.h"
#include "platform/socket.h"

namespace talvo::platform {
namespace {

// Asks for the socket of `family` whose local end is `end` and remote end
// `other`; addresses as the request wants them (network byte order words).
std::optional<SocketOwner> askKernel(int nl, std::uint8_t family,
                                     const std::uint32_t (&src)[4],
                                     std::uint16_t sport,
                                     const std::uint32_t (&dst)[4],
                                     std::uint16_t dport) {
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } message{};
  message.header.nlmsg_len = sizeof message;
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = NLM_F_REQUEST;
  message.request.sdiag_family = family;
  message.request.sdiag_protocol = IPPROTO_TCP;
  message.request.idiag_states = ~0u;
  message.request.id.idiag_sport = htons(sport);
  message.request.id.idiag_dport = htons(dport);
  std::memcpy(message.request.id.idiag_src, src, sizeof src);
  std::memcpy(message.request.id.idiag_dst, dst, sizeof dst);
  message.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  message.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  ssize_t n;
  do {
    n = ::sendto(nl, &message, sizeof message, 0,
                 reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return std::nullopt;
  alignas(nlmsghdr) char reply[8192];
  do {
    n = ::recv(nl, reply, sizeof reply, 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return std::nullopt;
  int left = static_cast<int>(n);
  for (auto* h = reinterpret_cast<nlmsghdr*>(reply); NLMSG_OK(h, left);
       h = NLMSG_NEXT(h, left)) {
    if (h->nlmsg_type != SOCK_DIAG_BY_FAMILY) return std::nullopt;
    if (h->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
      return std::nullopt;
    }
    const auto* found = static_cast<const inet_diag_msg*>(NLMSG_DATA(h));
    // A socket no process holds any more (closed, or a time-wait socket,
    // which the kernel reports as owned by root) names nobody.
    SocketOwner owner;
    if (found->idiag_inode != 0) owner.uid = found->idiag_uid;
    return owner;
  }
  return std::nullopt;
}

}  // namespace

std::optional<SocketOwner> socketOwner(const SocketAddress& end,
                                       const SocketAddress& other) {
  // One netlink socket per thread, kept: opening one per connection costs
  // about as much as the question itself. Made again after a failure.
  thread_local std::optional<OwnedFd> kept;
  if (!kept || kept->get() < 0) {
    kept.emplace(
        ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  }
  OwnedFd& nl = *kept;
  if (nl.get() < 0) return std::nullopt;
  std::uint32_t src[4] = {htonl(end.address), 0, 0, 0};
  std::uint32_t dst[4] = {htonl(other.address), 0, 0, 0};
  if (auto uid = askKernel(nl.get(), AF_INET, src, end.port, dst, other.port)) {
    return uid;
  }
  // A program may reach an IPv4 listener through an IPv6 socket and an
  // IPv4-mapped address (::ffff:a.b.c.d); that socket is an IPv6 one.
  std::uint32_t src6[4] = {0, 0, htonl(0xffff), htonl(end.address)};
  std::uint32_t dst6[4] = {0, 0, htonl(0xffff), htonl(other.address)};
  return askKernel(nl.get(), AF_INET6, src6, end.port, dst6, other.port);
}

}  // namespace talvo::platform
