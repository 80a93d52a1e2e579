// The values that the operations of "QV_daemon" take and give, as C++
// types: the out arguments of the operations that give more than one, and
// the interface's own enum and struct. One set for the daemon, its clients
// and the services below the daemon object; how each travels is described
// next to the operation table (daemon_operations.h).
//
// Thread safety: plain values.

#ifndef TALVO_CLIENT_DAEMON_TYPES_H_
#define TALVO_CLIENT_DAEMON_TYPES_H_

#include <cstdint>
#include <string>
#include <vector>

namespace talvo::client {

using Strings = std::vector<std::string>;

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
  Strings markers;   // empty for a per-method server
  Strings methods;   // only for a per-method server
  Strings commands;  // in the order of markers or methods
};

// getImplementationDetails.
struct ImplementationDetails {
  std::string codeProtocol;  // always "xdr"
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

// QV_daemon::LaunchStatus, by position: how a server process came to run.
enum class LaunchStatus : std::uint32_t {
  inActive = 0,
  manualLaunch = 1,     // the server registered itself
  automaticLaunch = 2,  // the daemon launched it
  // The same values as older callers spell them.
  kInActive = inActive,
  kManualLaunch = manualLaunch,
  kAutomaticLaunch = automaticLaunch,
};

// QV_daemon::serverDetails, one running server process.
struct ServerDetails {
  std::string server;
  std::string marker;
  std::string principal;
  std::string code;
  std::string comms;
  std::string port;
  std::uint32_t osSpecific = 0;  // the process id
  LaunchStatus status = LaunchStatus::inActive;
};

}  // namespace talvo::client

#endif  // TALVO_CLIENT_DAEMON_TYPES_H_
