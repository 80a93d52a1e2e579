// The operation table of "QV_daemon" under the daemon side's names; the
// table itself is the client library's (client/daemon_operations.h).
//
// Thread safety: as the table's.

#ifndef TALVO_INTERFACE_DAEMON_OPERATIONS_H_
#define TALVO_INTERFACE_DAEMON_OPERATIONS_H_

#include "client/daemon_operations.h"

namespace talvo::interface {

namespace op = client::op;
using client::DaemonOp;
using client::daemonOperation;
using client::DaemonOperation;
using client::daemonOperations;
using client::daemonSignature;
using client::findDaemonOperation;
using client::kDaemonInterfaceName;
using client::kDaemonOperationCount;
using client::kDaemonRepositoryId;

}  // namespace talvo::interface

#endif  // TALVO_INTERFACE_DAEMON_OPERATIONS_H_
