// CNTService: the reusable base of a program that runs as a service.
//
// It installs and removes the service (a systemd unit file), registers the
// event-log source, hands the process to the control dispatcher, reports
// the service status through sd_notify and turns control requests (signals
// taken by the dispatcher's thread) into virtual calls. A derived class
// supplies OnInit and Run.
//
// There is one instance per process; the constructor publishes it for the
// dispatcher's callbacks, which get no object.
//
// Threads: ServiceMain, OnInit and Run run on the thread that called
// RunDispatcher (the service thread); Handler runs on the dispatcher's
// thread. They share the running flag and the status record only.

#ifndef TALVO_SERVICE_NT_SERVICE_H_
#define TALVO_SERVICE_NT_SERVICE_H_

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/event_log.h"

namespace talvo::service {

// Service states as the service status record carries them.
enum ServiceState : std::uint32_t {
  SERVICE_STOPPED = 1,
  SERVICE_START_PENDING = 2,
  SERVICE_STOP_PENDING = 3,
  SERVICE_RUNNING = 4,
};

// Control codes handed to Handler.
enum ServiceControl : std::uint32_t {
  SERVICE_CONTROL_STOP = 1,
  SERVICE_CONTROL_PAUSE = 2,
  SERVICE_CONTROL_CONTINUE = 3,
  SERVICE_CONTROL_INTERROGATE = 4,
  SERVICE_CONTROL_SHUTDOWN = 5,
  SERVICE_USER_CONTROL_FIRST = 128,
};

using platform::EventType;

struct ServiceStatus {
  std::uint32_t service_type = 16;  // own process
  std::atomic<std::uint32_t> current_state{SERVICE_STOPPED};
  std::uint32_t controls_accepted = 1;  // stop only
  std::uint32_t win32_exit_code = 0;
  std::uint32_t service_specific_exit_code = 0;
  std::uint32_t check_point = 0;
  std::uint32_t wait_hint = 0;
};

class CNTService {
 public:
  // `service_name` is the service name, display name and event source
  // (at most 63 characters kept).
  explicit CNTService(const char* service_name);
  virtual ~CNTService();
  CNTService(const CNTService&) = delete;
  CNTService& operator=(const CNTService&) = delete;

  // Handles "-?", "-i" and "-u" (first argument only, any case), printing
  // their results on standard output. True when an option was handled: the
  // caller must then not start the dispatcher.
  bool HandleCommandLine(int argc, char** argv);

  bool IsServiceInstalled();
  // Writes the unit file and the event-source key; logs message 100. False
  // with LastError() set on failure.
  bool InstallService();
  // Removes the unit file (the event-source key stays); logs 101, or 102
  // and false with LastError() set on failure.
  bool RemoveService();

  // Writes event `id` with up to three insertion strings (null ones are
  // left out).
  void LogServiceEvent(EventType type, int id, const char* s1 = nullptr,
                       const char* s2 = nullptr, const char* s3 = nullptr);
  // Writes an entry of the program's own beyond the message table.
  void LogServiceText(EventType type, std::string_view text) {
    event_log_.report(type, text);
  }

  // Runs the service under the service manager: false at once when the
  // process was not started by one (NOTIFY_SOCKET unset); otherwise runs
  // ServiceMain with the control thread and returns true once it stopped.
  bool RunDispatcher();
  // Runs the service in the foreground without a service manager: status
  // reports and events go to standard error; SIGUSR1 stops.
  void RunForeground();

  // Stores the state and reports the status record, as one step: changes
  // made by two threads are reported in the order they were made.
  void SetStatus(std::uint32_t state);
  // The start-up step of the service entry; false when OnInit failed.
  bool Initialize();

  // The service entry and the control handler; both find the instance
  // through the process-wide pointer.
  static void ServiceMain(int argc, char** argv);
  static void Handler(std::uint32_t control);

  const std::string& serviceName() const { return service_name_; }
  bool isRunning() const { return running_.load() != 0; }
  std::uint32_t currentState() const { return status_.current_state.load(); }
  // The errno of the last failed install or remove step.
  int LastError() const { return last_error_; }

  // Overridables, in slot order after the destructor.
  virtual void Run();
  virtual bool OnInit();
  virtual void OnStop();
  virtual void OnInterrogate();
  virtual void OnPause();
  virtual void OnContinue();
  virtual void OnShutdown();
  virtual bool OnUserControl(std::uint32_t control);

 protected:
  // Cleared by the stop control; the main loop runs while it is not 0.
  std::atomic<std::int32_t> running_{0};

 private:
  void ReportStatus();
  void ReportStatusLocked();  // report_mutex_ held
  void RunWithControls();

  std::string service_name_;
  int major_version_ = 1;
  int minor_version_ = 0;
  ServiceStatus status_;
  bool foreground_ = false;
  // Guards last_report_, the report itself and every state change that is
  // reported.
  std::mutex report_mutex_;
  std::string last_report_;
  int last_error_ = 0;
  platform::EventLog event_log_;
};

// The key of the event source of `service_name` in the settings store.
std::string eventSourceKey(const std::string& service_name);

}  // namespace talvo::service

#endif  // TALVO_SERVICE_NT_SERVICE_H_
