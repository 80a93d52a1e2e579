// The values that the operations of "QV_daemon" take and give, as C++
// types: who is calling, and the out arguments of the operations that give
// more than one. Shared by the daemon object and the client stubs.
//
// Thread safety: plain values.

#ifndef TALVO_INTERFACE_DAEMON_TYPES_H_
#define TALVO_INTERFACE_DAEMON_TYPES_H_

#include <cstdint>
#include <string>
#include <vector>

namespace talvo::interface {

// Who sent a request: its principal (settled by the daemon's request
// filter; "nobody" when the message brought none) and the socket of the
// connection it arrived on (-1 when there is none, for example a call from
// inside the daemon), which the protected-mode check asks for the peer.
struct Caller {
  std::string principal;
  int socket = -1;
};

// getServer and getServer2 (getServer leaves out nservers and port).
struct ServerDescription {
  std::string commsProtocol;
  std::string codeProtocol;
  std::string activationPolicy;  // "shared", "unshared" or "per_method"
  std::uint32_t modeFlags = 0;
  std::string owner;
  std::string invokeList;
  std::string launchList;
  std::uint32_t nservers = 0;
  std::uint32_t port = 0;
  std::vector<std::string> markers;   // empty for a per-method server
  std::vector<std::string> methods;   // only for a per-method server
  std::vector<std::string> commands;  // in the order of markers or methods
};

// getImplementationDetails.
struct ImplementationDetails {
  std::string codeProtocol;
  std::string commsProtocol;
  std::string commsPort;
  std::string activationPolicy;
};

// getIIOPDetails.
struct IiopDetails {
  std::string iiopPort;
  std::string activationPolicy;
};

// registerPersistentServer.
struct PersistentServerDetails {
  std::string codeProtocol;
  std::string commsProtocol;
  std::string commsPort;
};

// QV_daemon::LaunchStatus, by position.
enum class LaunchStatus : std::uint32_t {
  kInActive = 0,
  kManualLaunch = 1,
  kAutomaticLaunch = 2,
};

// QV_daemon::serverDetails, one running server process.
struct ServerDetails {
  std::string server;
  std::string marker;
  std::string principal;
  std::string code;
  std::string comms;
  std::string port;
  std::uint32_t osSpecific = 0;
  LaunchStatus status = LaunchStatus::kInActive;
};

}  // namespace talvo::interface

#endif  // TALVO_INTERFACE_DAEMON_TYPES_H_
