#include "daemon/daemon_service.h"

#include <cstdio>
#include <iostream>
#include <thread>

#include "daemon/runtime_link.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/program.h"
#include "runtime/config/trace_stream.h"

namespace talvo::daemon {
namespace {

constexpr char kCommFailure[] = "CORBA::StExcep::COMM_FAILURE";

void printEnvironment(const CORBA::Environment& env) {
  env.print(std::cout);
  std::cout << std::endl;
}

}  // namespace

void fatalMessageBox(const std::string& text) {
  std::fflush(nullptr);
  platform::reportErrorToUser(kServiceName, text);
  // No destructors: other threads may still run, and nothing is tidied.
  platform::exitImmediately(1);
}

DaemonService::DaemonService(const char* service_name,
                             DaemonCoreFactory& factory)
    : CNTService(service_name), factory_(factory) {}

DaemonService::~DaemonService() {
  if (interop_) WriteInteropFile();
  if (theDaemon() == daemon_.get()) setTheDaemon(nullptr);
  daemon_.reset();
  if (output_active_) removeTraceHandler(kDaemonOutputName);
  log_file_.reset();
  StdOutMessageHandler::setLineFlush(true);
}

void DaemonService::WriteInteropFile() {
  std::string name =
      interop_file_name_.empty() ? "talvod.ior" : interop_file_name_;
  std::string text;
  if (daemon_) {
    CORBA::Environment env;
    text = daemon_->iorText(env);
  }
  // Written whole through a temporary file, so a reader never sees half a
  // reference; no line end is added.
  if (platform::writeFileAtomically(name, text)) {
    fatalMessageBox("talvod: Unable to create file - " + name +
                    ".\n Check the entry for 'CheckPointing File' in the "
                    "Talvo Daemon Log section in the Talvo Configuration "
                    "Tool");
  }
}

void DaemonService::SetUpLog() {
  SettingsValues values = readDaemonKey();
  if (!isYes(settingValue(values, "log"))) return;
  std::string name = settingValue(values, "logfile");
  if (name.empty()) name = kDefaultLogFile;
  if (output_active_) removeTraceHandler(kDaemonOutputName);
  output_active_ = false;
  log_file_ = std::make_unique<DaemonLogFile>(name);
  addTraceHandler(kDaemonOutputName,
                  std::make_unique<DaemonOutput>(log_file_.get(), nullptr));
  output_active_ = true;
}

bool DaemonService::OnInit() {
  SetUpLog();

  if (daemon_) {
    setTheDaemon(nullptr);
    daemon_.reset();
  }
  settings_ = parseDaemonSettings(readDaemonKey());

  DaemonOptions options;
  options.unregistered_persistent_servers = settings_.ups;
  options.reap_time = settings_.reap_time;
  options.protected_mode = settings_.protected_mode;
  if (settings_.interop) {
    interop_ = true;
    interop_file_name_ = settings_.interop_file;
    options.interop = true;
    options.interop_file = settings_.interop_file;
  }

  factory_.createCheckpoint();
  if (settings_.checkpoint) {
    CORBA::Environment env;
    factory_.useCheckpointFile(settings_.checkpoint_file, env);
    if (env.exception() != nullptr) {
      fatalMessageBox("unexpected exception setting checkpoint file!");
    }
  }

  delay_ms_ = settings_.delay_ms;

  writeBanner("Talvo daemon");
  setBrokerSetting(30);
  setServerName("QV_daemon");

  {
    CORBA::Environment env;
    daemon_ = factory_.createDaemon(options, env);
    setTheDaemon(daemon_.get());
    if (const CORBA::Exception* e = env.exception()) {
      if (e->name() == kCommFailure) {
        fatalMessageBox(
            "Comm Failure - Check that you do not already have an Talvo "
            "daemon running!");
      }
      fatalMessageBox("Unknown error initalising daemon");
    }
    if (!daemon_) fatalMessageBox("Unknown error initalising daemon");
  }

  {
    CORBA::Environment env;
    daemon_->implIsReady(env);
    if (env.exception() != nullptr) {
      printEnvironment(env);
      platform::exitImmediately(1);
    }
  }

  setDiagnosticsLevel(static_cast<std::uint16_t>(settings_.trace_level));
  // From here on the lines of a pass are written out together at its end.
  StdOutMessageHandler::setLineFlush(false);
  if (log_file_) log_file_->setLineFlush(false);
  return true;
}

void DaemonService::RunOnePass() {
  // Ended server processes are reaped on every pass (their end stays known
  // to the activator's liveness test).
  platform::reapEndedChildren();
  // With no delay the pass waits in the event wait instead of spinning; the
  // wait is bounded so that a stop is seen soon.
  const auto wait =
      delay_ms_ == 0 ? kBlockingWaitStep : std::chrono::milliseconds(0);
  if (daemon_ && daemon_->eventPending(wait)) {
    CORBA::Environment env;
    try {
      daemon_->processEvent(env);
    } catch (const CORBA::SystemException& e) {
      env.set(e.clone(), CORBA::Environment::kSystem);
    }
    if (env.exception() != nullptr) printEnvironment(env);
  }
  // Before the pass's sleep and the next pass's wait: nothing is held back
  // while the daemon is idle.
  StdOutMessageHandler::flushOutput();
  if (log_file_) log_file_->flush();
  if (delay_ms_ != 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms_));
  }
}

void DaemonService::Run() {
  while (running_.load() != 0) RunOnePass();
}

void DaemonService::OnStop() {}

}  // namespace talvo::daemon
