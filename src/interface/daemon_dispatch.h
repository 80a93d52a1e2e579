// Dispatch of "QV_daemon" requests to the daemon object.
//
// makeDaemonInterface() builds the run time's operation table for the
// daemon, generated from the operation table (client/daemon_operations.h):
// each operation's handler reads the in arguments the dispatcher decoded by
// the signature, calls the Daemon method of the operation's name with the
// request's Caller (principal and connection), and stores the out
// arguments and the result, or records the exception for the reply. registerDaemon() adds it to a dispatcher's objects under the
// interface name "QV_daemon" with the empty marker.
//
// Thread safety: none; the dispatcher's thread alone runs the handlers.

#ifndef TALVO_INTERFACE_DAEMON_DISPATCH_H_
#define TALVO_INTERFACE_DAEMON_DISPATCH_H_

#include <memory>

#include "interface/daemon.h"
#include "interface/daemon_types.h"
#include "runtime/protocol/dispatcher.h"

namespace talvo::interface {

// The operation table bound to `daemon` (not owned; it must outlive the
// table and every dispatcher holding it).
std::shared_ptr<protocol::Interface> makeDaemonInterface(Daemon& daemon);

// Registers the daemon object with `dispatcher` (replacing an earlier one).
void registerDaemon(Daemon& daemon, protocol::Dispatcher& dispatcher);

// The caller of a request: its principal and its connection's socket.
Caller callerOf(const protocol::Request& request);

}  // namespace talvo::interface

#endif  // TALVO_INTERFACE_DAEMON_DISPATCH_H_
