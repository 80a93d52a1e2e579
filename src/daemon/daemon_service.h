// DaemonService: the service that carries the daemon. OnInit sets up the
// log, reads the settings, creates the checkpoint and daemon objects and
// declares the daemon ready; Run is the main loop that drives the run
// time's event processing; the destructor writes the interoperable
// reference file and deletes what OnInit made.
//
// Fatal start-up failures are reported as message boxes ("Talvo Daemon: "
// and the text on standard error and in syslog) and end the process with
// exit code 1.
//
// Threads: OnInit, Run and the destructor run on the service thread; the
// base's control handler only clears the running flag.

#ifndef TALVO_DAEMON_DAEMON_SERVICE_H_
#define TALVO_DAEMON_DAEMON_SERVICE_H_

#include <cstdint>
#include <memory>
#include <string>

#include "daemon/daemon_core.h"
#include "daemon/daemon_log.h"
#include "daemon/daemon_settings.h"
#include "service/nt_service.h"

namespace talvo::daemon {

inline constexpr char kServiceName[] = "Talvo Daemon";

// While waiting for events at Priority 3 the loop wakes this often to see
// a stop.
inline constexpr std::chrono::milliseconds kBlockingWaitStep{100};

class DaemonService : public service::CNTService {
 public:
  // `factory` makes the checkpoint and daemon objects (not owned; must
  // outlive the service).
  DaemonService(const char* service_name, DaemonCoreFactory& factory);
  // Tear-down: writes the interoperable-reference file if asked (failure:
  // message box, exit 1), then deletes the daemon object and the log.
  ~DaemonService() override;

  void Run() override;
  // Returns true; failures end the process.
  bool OnInit() override;
  void OnStop() override;

  // The delay between event passes and the settings OnInit read (tests).
  std::uint32_t delayMs() const { return delay_ms_; }
  const DaemonSettings& settings() const { return settings_; }

  // One pass of the main loop: waits for and processes at most one event,
  // then sleeps the delay.
  void RunOnePass();

 private:
  void SetUpLog();
  void WriteInteropFile();

  std::uint32_t delay_ms_ = 500;
  DaemonCoreFactory& factory_;
  std::unique_ptr<DaemonCore> daemon_;
  std::unique_ptr<DaemonLogFile> log_file_;
  bool output_active_ = false;  // DaemonOutput is on the trace dispatcher
  bool interop_ = false;
  std::string interop_file_name_;
  DaemonSettings settings_;
};

// Shows `text` as a message box with caption "Talvo Daemon" and ends the
// process with exit code 1 (standard output is flushed first).
[[noreturn]] void fatalMessageBox(const std::string& text);

}  // namespace talvo::daemon

#endif  // TALVO_DAEMON_DAEMON_SERVICE_H_
