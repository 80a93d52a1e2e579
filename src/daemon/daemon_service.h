// DaemonService: talvod's service, a thin front end over DaemonHost.
// OnInit starts the host (a failure ends the process with exit code 1),
// Run drives the host's passes until a stop, OnStop asks the host to stop
// (an event on its loop: an idle daemon never wakes to look for it), and
// the destructor has the host write the interoperable-reference file and
// tear down.
//
// Threads: OnInit, Run and the destructor run on the service thread;
// OnStop runs on the dispatcher's thread.

#ifndef TALVO_DAEMON_DAEMON_SERVICE_H_
#define TALVO_DAEMON_DAEMON_SERVICE_H_

#include "daemon/daemon_core.h"
#include "daemon/daemon_host.h"
#include "service/nt_service.h"

namespace talvo::daemon {

inline constexpr char kServiceName[] = "Talvo Daemon";

class DaemonService : public service::CNTService {
 public:
  // `factory` makes the checkpoint and daemon objects (not owned; must
  // outlive the service).
  DaemonService(const char* service_name, DaemonContext context,
                DaemonCoreFactory& factory);
  // Tear-down: the interoperable-reference file if asked (failure: message
  // box, exit 1), then the daemon object and the log.
  ~DaemonService() override;

  void Run() override;
  // Returns true; failures end the process.
  bool OnInit() override;
  void OnStop() override;

  DaemonHost& host() { return host_; }

 private:
  DaemonHost host_;
};

}  // namespace talvo::daemon

#endif  // TALVO_DAEMON_DAEMON_SERVICE_H_
