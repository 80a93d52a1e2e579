// The protected-mode check on requests that change the repository or stop
// servers.
//
// In protected mode such a request is taken only from the user the daemon
// runs as, over a connection from the daemon's own host. The check compares
// the caller's principal with the daemon user, then takes the peer address
// the connection's identity carries; a loopback peer (127.0.0.0/8) is this host
// without further ado. Any other peer is looked up in reverse, its name
// looked up forward, and the peer is taken when one of the forward
// addresses is its own and the name contains the local host name. Each
// refusal writes its line to the error stream and is NO_PERMISSION 10130
// (wrong user, detail the daemon user) or 10131 (wrong or unknown host,
// detail the local host name), completion status COMPLETED_NO.
//
// The name-service calls go through a HostLookups object, so that the
// check's decisions can be exercised without a network.
//
// Thread safety: none; the daemon calls it on its event-loop thread (the
// lookups block that thread until they answer).

#ifndef TALVO_INTERFACE_ACCESS_CHECK_H_
#define TALVO_INTERFACE_ACCESS_CHECK_H_

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "imprep/trace.h"
#include "interface/daemon_types.h"
#include "platform/socket.h"
#include "runtime/except/exception.h"

namespace talvo::interface {

inline constexpr std::uint32_t kMinorNotDaemonUser = 10130;
inline constexpr std::uint32_t kMinorNotLocalHost = 10131;

// The name-service questions of the check. Addresses are IPv4 in host byte
// order.
class HostLookups {
 public:
  virtual ~HostLookups() = default;
  // The IPv4 peer address of a connection; false when there is none.
  virtual bool peerAddress(const platform::PeerIdentity& peer,
                           std::uint32_t& address) = 0;
  // The host name of an address; false when the lookup fails.
  virtual bool hostName(std::uint32_t address, std::string& name) = 0;
  // The addresses of a host name (empty when the lookup fails).
  virtual std::vector<std::uint32_t> addresses(const std::string& name) = 0;
};

// The lookups of the platform layer. The forward lookup yields the first
// IPv4 address of the name (what the platform's resolver gives).
std::shared_ptr<HostLookups> platformHostLookups();

// The peer address as the refusal lines print it: the 32-bit address as it
// is held in network byte order, read as an unsigned number.
std::uint32_t networkOrderValue(std::uint32_t host_order_address);

class AccessCheck {
 public:
  // `lookups` must not be null; `err` (not owned) receives the refusal
  // lines and must outlive this object; `trace` gets the trace lines.
  AccessCheck(bool protected_mode, std::string daemon_user,
              std::string local_host, std::shared_ptr<HostLookups> lookups,
              std::ostream* err, imprep::TraceSink trace);

  bool protectedMode() const { return protected_mode_; }
  const std::string& daemonUser() const { return daemon_user_; }

  // Null when the caller may go on; otherwise the refusal.
  Status check(const Caller& caller) const;

 private:
  Status refuse(std::uint32_t minor, const std::string& line) const;
  void trace(const std::string& line) const {
    if (trace_) trace_(line);
  }

  bool protected_mode_;
  std::string daemon_user_;
  std::string local_host_;
  std::shared_ptr<HostLookups> lookups_;
  std::ostream* err_;
  imprep::TraceSink trace_;
};

}  // namespace talvo::interface

#endif  // TALVO_INTERFACE_ACCESS_CHECK_H_
