#include "platform/peer_process.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace talvo::platform {
namespace {

// An address and port as /proc/net/tcp writes them: the address's four
// bytes in network order read as one native 32-bit number, then the port,
// both in upper-case hexadecimal.
std::string procText(std::uint32_t address, std::uint16_t port) {
  const std::uint32_t stored = htonl(address);
  char text[16];
  std::snprintf(text, sizeof text, "%08X:%04X", stored, port);
  return text;
}

bool endsOf(int fd, sockaddr_in& local, sockaddr_in& remote) {
  socklen_t len = sizeof local;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0 ||
      local.sin_family != AF_INET) {
    return false;
  }
  len = sizeof remote;
  return ::getpeername(fd, reinterpret_cast<sockaddr*>(&remote), &len) == 0 &&
         remote.sin_family == AF_INET;
}

}  // namespace

std::optional<std::uint64_t> findTcpSocketInode(std::string_view listing,
                                                std::uint32_t local_address,
                                                std::uint16_t local_port,
                                                std::uint32_t remote_address,
                                                std::uint16_t remote_port) {
  const std::string local = procText(local_address, local_port);
  const std::string remote = procText(remote_address, remote_port);
  std::istringstream lines{std::string(listing)};
  std::string line;
  std::getline(lines, line);  // the column heads
  while (std::getline(lines, line)) {
    // sl local rem st tx:rx tr:when retrnsmt uid timeout inode ...
    std::istringstream fields(line);
    std::string slot, l, r, state, queues, timer, retransmits, uid, timeout;
    std::uint64_t inode = 0;
    if (!(fields >> slot >> l >> r >> state >> queues >> timer >> retransmits >>
          uid >> timeout >> inode)) {
      continue;
    }
    if (l == local && r == remote && inode != 0) return inode;
  }
  return std::nullopt;
}

bool connectionPeerHeldBy(int fd, pid_t pid) {
  sockaddr_in ours{}, theirs{};
  if (!endsOf(fd, ours, theirs)) return false;
  return connectionPeerHeldBy(
      SocketAddress{ntohl(ours.sin_addr.s_addr), ntohs(ours.sin_port)},
      SocketAddress{ntohl(theirs.sin_addr.s_addr), ntohs(theirs.sin_port)},
      pid);
}

bool connectionPeerHeldBy(const SocketAddress& local,
                          const SocketAddress& remote, pid_t pid) {
  if (pid <= 0 || remote.port == 0) return false;
  std::ifstream in("/proc/net/tcp");
  if (!in) return false;
  const std::string listing((std::istreambuf_iterator<char>(in)), {});
  // The peer's socket: its local end is our remote one and the other way.
  const std::optional<std::uint64_t> inode = findTcpSocketInode(
      listing, remote.address, remote.port, local.address, local.port);
  if (!inode) return false;

  const std::string wanted = "socket:[" + std::to_string(*inode) + "]";
  const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  DIR* fds = ::opendir(dir.c_str());
  if (fds == nullptr) return false;
  bool held = false;
  char target[64];
  while (!held) {
    dirent* item = ::readdir(fds);
    if (item == nullptr) break;
    if (item->d_name[0] == '.') continue;
    const std::string link = dir + "/" + item->d_name;
    ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    held = std::string_view(target, static_cast<std::size_t>(n)) == wanted;
  }
  ::closedir(fds);
  return held;
}

}  // namespace talvo::platform
