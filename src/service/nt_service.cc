#include "service/nt_service.h"

#include <strings.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/program.h"
#include "platform/service_manager.h"
#include "platform/settings_store.h"
#include "platform/signals.h"
#include "service/event_messages.h"

namespace talvo::service {
namespace {

CNTService* g_instance = nullptr;

// What the service manager is told for each state.
const char* stateReport(std::uint32_t state) {
  switch (state) {
    case SERVICE_START_PENDING:
      return "STATUS=Starting";
    case SERVICE_RUNNING:
      return "READY=1";
    case SERVICE_STOP_PENDING:
      return "STOPPING=1";
    default:
      return "STATUS=Stopped";
  }
}

}  // namespace

std::string eventSourceKey(const std::string& service_name) {
  return "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" +
         service_name;
}

CNTService::CNTService(const char* service_name)
    : service_name_(std::string(service_name).substr(0, 63)),
      event_log_(service_name_) {
  g_instance = this;
}

CNTService::~CNTService() {
  if (g_instance == this) g_instance = nullptr;
}

bool CNTService::HandleCommandLine(int argc, char** argv) {
  if (argc < 2 || argv[1] == nullptr) return false;
  const char* arg = argv[1];
  const char* name = service_name_.c_str();
  if (strcasecmp(arg, "-?") == 0) {
    std::printf("The Talvo Daemon service is %s installed.\n",
                IsServiceInstalled() ? "currently" : "not");
    std::printf(
        "Other Command line options are: '-i' (install service) -u "
        "(uninstall service).\n");
    std::printf(
        "Daemon must be configured using the Talvo Configuration "
        "Applet.\n \n");
  } else if (strcasecmp(arg, "-i") == 0) {
    if (IsServiceInstalled()) {
      std::printf("%s is already installed\n", name);
    } else if (InstallService()) {
      std::printf("%s installed\n", name);
    } else {
      std::printf("%s failed to install. Error %d\n", name, last_error_);
    }
  } else if (strcasecmp(arg, "-u") == 0) {
    if (!IsServiceInstalled()) {
      std::printf("%s is not installed\n", name);
    } else if (RemoveService()) {
      // The message names the program as a 100-character path buffer
      // holds it.
      std::string path = platform::programPath().substr(0, 100);
      std::printf("%s removed. (You must delete the file (%s) yourself.)\n",
                  name, path.c_str());
    } else {
      std::printf("Could not remove %s. Error %d\n", name, last_error_);
    }
  } else {
    return false;
  }
  std::fflush(stdout);
  return true;
}

bool CNTService::IsServiceInstalled() {
  return platform::unitFileExists(service_name_);
}

bool CNTService::InstallService() {
  // The unit runs the program by its full path; a truncated path would
  // name a program that does not exist.
  const std::string path = platform::programPath();
  if (path.empty()) {
    last_error_ = static_cast<int>(std::errc::no_such_file_or_directory);
    return false;
  }
  if (int error = platform::writeUnitFile(service_name_, path); error != 0) {
    last_error_ = error;
    return false;
  }
  const std::string key = eventSourceKey(service_name_);
  std::error_code error =
      platform::setSettingsValue(key, "EventMessageFile", path);
  if (!error) error = platform::setSettingsValue(key, "TypesSupported", "7");
  if (error) {
    last_error_ = error.value();
    return false;
  }
  LogServiceEvent(EventType::kInformation, EVMSG_INSTALLED,
                  service_name_.c_str());
  return true;
}

bool CNTService::RemoveService() {
  if (int error = platform::removeUnitFile(service_name_); error != 0) {
    last_error_ = error;
    LogServiceEvent(EventType::kError, EVMSG_NOTREMOVED, service_name_.c_str());
    return false;
  }
  LogServiceEvent(EventType::kInformation, EVMSG_REMOVED,
                  service_name_.c_str());
  return true;
}

void CNTService::LogServiceEvent(EventType type, int id, const char* s1,
                                 const char* s2, const char* s3) {
  std::vector<std::string> inserts;
  for (const char* s : {s1, s2, s3}) {
    if (s != nullptr) inserts.emplace_back(s);
  }
  event_log_.report(type, formatEventMessage(id, inserts));
}

bool CNTService::RunDispatcher() {
  if (!platform::startedByServiceManager()) return false;
  RunWithControls();
  return true;
}

void CNTService::RunForeground() {
  foreground_ = true;
  event_log_.setToStandardError(true);
  RunWithControls();
}

void CNTService::RunWithControls() {
  std::optional<platform::ControlSignalThread> controls;
  try {
    controls.emplace(
        [](int control) { Handler(static_cast<std::uint32_t>(control)); });
  } catch (const std::system_error&) {
    // Without the dispatcher's thread no control could reach the service.
    LogServiceEvent(EventType::kError, EVMSG_CTRLHANDLERNOTINSTALLED);
    return;
  }
  ServiceMain(0, nullptr);
}

void CNTService::ReportStatus() {
  std::lock_guard<std::mutex> lock(report_mutex_);
  ReportStatusLocked();
}

void CNTService::ReportStatusLocked() {
  std::string report = stateReport(status_.current_state.load());
  // The whole record is reported after every control; the manager only
  // needs to hear of a change.
  if (report == last_report_) return;
  last_report_ = report;
  if (foreground_) {
    std::string line = service_name_ + ": status " + report + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
  } else {
    platform::notifyServiceManager(report);
  }
}

void CNTService::SetStatus(std::uint32_t state) {
  // Otherwise a stop control could store stop-pending, the main thread
  // store and report "stopped", and the stop-pending report then find
  // nothing new to say: the manager would never hear STOPPING=1.
  std::lock_guard<std::mutex> lock(report_mutex_);
  status_.current_state.store(state);
  ReportStatusLocked();
}

bool CNTService::Initialize() {
  // Reported as start-pending unless a stop has already come in.
  ReportStatus();
  bool ok = OnInit();
  // The exit code stays 0: systemd learns of a failure from the process's
  // exit status, not from the status record.
  status_.win32_exit_code = 0;
  status_.check_point = 0;
  status_.wait_hint = 0;
  if (!ok) {
    LogServiceEvent(EventType::kError, EVMSG_FAILEDINIT);
    SetStatus(SERVICE_STOPPED);
    return false;
  }
  LogServiceEvent(EventType::kInformation, EVMSG_STARTED);
  // A stop that arrived during OnInit has set stop-pending: keep it.
  std::lock_guard<std::mutex> lock(report_mutex_);
  std::uint32_t expected = SERVICE_START_PENDING;
  if (status_.current_state.compare_exchange_strong(expected,
                                                    SERVICE_RUNNING)) {
    ReportStatusLocked();
  }
  return true;
}

void CNTService::ServiceMain(int /*argc*/, char** /*argv*/) {
  CNTService* service = g_instance;
  if (service == nullptr) return;
  // A stop taken before this point has set stop-pending: keep it.
  std::uint32_t stopped = SERVICE_STOPPED;
  service->status_.current_state.compare_exchange_strong(stopped,
                                                         SERVICE_START_PENDING);
  // The control handler is the dispatcher's thread, already running.
  if (!service->Initialize()) return;
  // A stop that arrived during OnInit is honoured: the flag is set first
  // and taken back when a stop has been seen, so a stop racing with this
  // step is never lost (the handler sets stop-pending before it clears the
  // flag).
  service->running_.store(1);
  if (service->status_.current_state.load() != SERVICE_RUNNING) {
    service->running_.store(0);
  }
  service->status_.win32_exit_code = 0;
  service->status_.check_point = 0;
  service->status_.wait_hint = 0;
  service->Run();
  service->SetStatus(SERVICE_STOPPED);
}

void CNTService::Handler(std::uint32_t control) {
  CNTService* service = g_instance;
  if (service == nullptr) return;
  switch (control) {
    case SERVICE_CONTROL_STOP:
      service->SetStatus(SERVICE_STOP_PENDING);
      service->running_.store(0);
      service->LogServiceEvent(EventType::kInformation, EVMSG_STOPPED);
      // Last: OnStop may wake the service thread at once, and its
      // "stopped" report must come after the event above.
      service->OnStop();
      break;
    case SERVICE_CONTROL_PAUSE:
      service->OnPause();
      break;
    case SERVICE_CONTROL_CONTINUE:
      service->OnContinue();
      break;
    case SERVICE_CONTROL_INTERROGATE:
      service->OnInterrogate();
      break;
    case SERVICE_CONTROL_SHUTDOWN:
      service->OnShutdown();
      break;
    default:
      if (control < SERVICE_USER_CONTROL_FIRST ||
          !service->OnUserControl(control)) {
        service->LogServiceEvent(EventType::kError, EVMSG_BADREQUEST);
      }
  }
  service->ReportStatus();
}

void CNTService::Run() {
  while (running_.load() != 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

bool CNTService::OnInit() { return true; }
void CNTService::OnStop() {}
void CNTService::OnInterrogate() {}
void CNTService::OnPause() {}
void CNTService::OnContinue() {}
void CNTService::OnShutdown() {}
bool CNTService::OnUserControl(std::uint32_t /*control*/) { return false; }

}  // namespace talvo::service
