#include "daemon/daemon_service.h"

namespace talvo::daemon {

DaemonService::DaemonService(const char* service_name, DaemonContext context,
                             DaemonCoreFactory& factory)
    : CNTService(service_name), host_(context, factory) {}

DaemonService::~DaemonService() {
  if (std::optional<std::string> failure = host_.shutdown()) {
    fatalMessageBox(*failure);
  }
}

bool DaemonService::OnInit() {
  if (std::optional<StartupFailure> failure = host_.start()) {
    endStartup(*failure);
  }
  return true;
}

void DaemonService::Run() {
  // Once the service runs: how it runs, where that is unsafe.
  for (const std::string& notice : host_.startupNotices()) {
    LogServiceText(platform::EventType::kWarning, notice);
  }
  // A stop that came during OnInit has cleared the running flag already.
  while (running_.load() != 0 && !host_.stopRequested()) host_.runOnce();
}

void DaemonService::OnStop() { host_.requestStop(); }

}  // namespace talvo::daemon
