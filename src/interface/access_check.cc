#include "interface/access_check.h"

#include <bit>

#include "platform/socket.h"

namespace talvo::interface {
namespace {

class PlatformHostLookups : public HostLookups {
 public:
  bool peerAddress(const platform::PeerIdentity& peer,
                   std::uint32_t& address) override {
    if (peer.descriptor < 0) return false;
    address = peer.peer.address;
    return true;
  }
  bool hostName(std::uint32_t address, std::string& name) override {
    return platform::reverseLookup(address, name) == 0;
  }
  std::vector<std::uint32_t> addresses(const std::string& name) override {
    std::uint32_t address = 0;
    if (platform::resolveHost(name, address) != 0) return {};
    return {address};
  }
};

bool isLoopback(std::uint32_t address) { return (address >> 24) == 127; }

}  // namespace

std::shared_ptr<HostLookups> platformHostLookups() {
  return std::make_shared<PlatformHostLookups>();
}

std::uint32_t networkOrderValue(std::uint32_t a) {
  if constexpr (std::endian::native == std::endian::big) return a;
  return (a >> 24) | ((a >> 8) & 0xff00u) | ((a << 8) & 0xff0000u) | (a << 24);
}

AccessCheck::AccessCheck(bool protected_mode, std::string daemon_user,
                         std::string local_host,
                         std::shared_ptr<HostLookups> lookups,
                         std::ostream* err, imprep::TraceSink trace)
    : protected_mode_(protected_mode),
      daemon_user_(std::move(daemon_user)),
      local_host_(std::move(local_host)),
      lookups_(std::move(lookups)),
      err_(err),
      trace_(std::move(trace)) {}

Status AccessCheck::refuse(std::uint32_t minor, const std::string& line) const {
  *err_ << line << std::endl;
  return fail<CORBA::NO_PERMISSION>(
      minor, minor == kMinorNotDaemonUser ? daemon_user_ : local_host_);
}

Status AccessCheck::check(const Caller& caller) const {
  if (!protected_mode_) return nullptr;
  const std::string& principal = caller.principal;
  if (principal != daemon_user_) {
    return refuse(kMinorNotDaemonUser,
                  "[talvod: Permission denied to " + principal + " ]");
  }

  trace(" checking fd: " + std::to_string(caller.peer.descriptor));
  std::uint32_t peer = 0;
  if (!lookups_->peerAddress(caller.peer, peer)) {
    return refuse(kMinorNotLocalHost,
                  "[talvod: (a) Permission denied to " + principal + " ]");
  }
  // A loopback peer is this host; its name ("localhost") would never hold
  // the host name, so the name lookups are skipped.
  if (isLoopback(peer)) return nullptr;

  const std::string shown = std::to_string(networkOrderValue(peer));
  std::string host;
  if (!lookups_->hostName(peer, host)) {
    return refuse(kMinorNotLocalHost, "[talvod: (b) Permission denied to " +
                                          principal + " from: " + shown + " ]");
  }
  trace(" host is " + host);
  bool confirmed = false;
  for (std::uint32_t address : lookups_->addresses(host)) {
    trace(" looked up host name addr: " +
          std::to_string(networkOrderValue(address)));
    trace(" getpeer addr: " + shown);
    if (address == peer) {
      confirmed = true;
      break;
    }
  }
  if (confirmed && host.find(local_host_) != std::string::npos) return nullptr;
  return refuse(kMinorNotLocalHost, "[talvod: (c) Permission denied to " +
                                        principal + " from: " + shown + " ]");
}

}  // namespace talvo::interface
