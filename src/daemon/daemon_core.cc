#include "daemon/daemon_core.h"

namespace talvo::daemon {
namespace {

DaemonCore* g_daemon = nullptr;

}  // namespace

DaemonCore* theDaemon() { return g_daemon; }
void setTheDaemon(DaemonCore* core) { g_daemon = core; }

}  // namespace talvo::daemon
