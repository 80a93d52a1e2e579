#include "daemon/daemon_host.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "daemon/runtime_link.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/program.h"
#include "platform/system_info.h"
#include "runtime/config/runtime_config.h"
#include "runtime/config/trace_stream.h"

namespace talvo::daemon {
namespace {

constexpr char kStdOutName[] = "QV_StdOut";

constexpr char kCaption[] = "Talvo Daemon";
constexpr char kCommFailure[] = "CORBA::StExcep::COMM_FAILURE";

// The printed form of an environment holding `status`.
void printStatus(Status status) {
  CORBA::Environment env;
  env.set(std::move(status), CORBA::Environment::kSystem);
  env.print(std::cout);
  std::cout << std::endl;
}

}  // namespace

void fatalMessageBox(const std::string& text) {
  std::fflush(nullptr);
  platform::reportErrorToUser(kCaption, text);
  // No destructors: other threads may still run, and nothing is tidied.
  platform::exitImmediately(1);
}

void endStartup(const StartupFailure& failure) {
  if (!failure.message.empty()) fatalMessageBox(failure.message);
  if (failure.status) printStatus(failure.status->cloneSystem());
  std::fflush(nullptr);
  platform::exitImmediately(1);
}

DaemonHost::DaemonHost(DaemonContext context, DaemonCoreFactory& factory)
    : context_(context), factory_(factory) {}

DaemonHost::~DaemonHost() {
  {
    std::lock_guard<std::mutex> lock(waker_mutex_);
    waker_.reset();
  }
  core_.reset();
  removeLog();
}

void DaemonHost::setUpLog() {
  SettingsValues values = readDaemonKey();
  const bool log = isYes(settingValue(values, "log"));
  if (!log && primary_output_ == nullptr) return;
  removeLog();
  if (log) {
    std::string name = settingValue(values, "logfile");
    if (name.empty()) name = default_files_.log_file;
    log_file_ = std::make_unique<DaemonLogFile>(name);
  }
  // talvod: the log file alone; a window: its pane, then the log file.
  OutputTarget* primary = log_file_.get();
  OutputTarget* secondary = nullptr;
  if (primary_output_ != nullptr) {
    primary = primary_output_;
    secondary = log_file_.get();
  }
  if (MessageDispatcher* chain = context_.trace.msgDispatcher()) {
    chain->add(kDaemonOutputName,
               std::make_unique<DaemonOutput>(primary, secondary));
    output_active_ = true;
  }
}

void DaemonHost::removeLog() {
  if (output_active_) {
    if (MessageDispatcher* chain = context_.trace.msgDispatcher()) {
      chain->remove(kDaemonOutputName);
    }
    output_active_ = false;
  }
  log_file_.reset();
  if (stdout_muted_) {
    if (MessageDispatcher* chain = context_.trace.msgDispatcher()) {
      chain->activate(kStdOutName);
    }
    stdout_muted_ = false;
  }
  StdOutMessageHandler::setLineFlush(true);
}

std::optional<StartupFailure> DaemonHost::start() {
  setUpLog();
  core_.reset();
  const SettingsValues values = readDaemonKey();
  settings_ = parseDaemonSettings(values, default_files_);

  DaemonOptions options;
  options.limits = parseDaemonLimits(values);
  options.unregistered_persistent_servers = settings_.ups;
  options.reap_time = settings_.reap_time;
  options.protected_mode = settings_.protected_mode;
  startup_notices_.clear();
  const bool root = platform::isSuperUser();
  options.launch_as_owner = settings_.launch_as_owner && root;
  if (settings_.launch_as_owner && !root) {
    startup_notices_.push_back(
        "LaunchAs=owner needs a daemon running as root: servers are launched "
        "as the daemon's own user, " +
        platform::userName() + ".");
  }
  if (root && !settings_.launch_as_owner && !settings_.protected_mode) {
    startup_notices_.push_back(
        "The daemon runs as root, unprotected, with LaunchAs=daemon: every "
        "server it launches runs as root, and any client that reaches its "
        "port may register a command. Run it as the talvo user, set "
        "LaunchAs=owner or set Protected=yes.");
  }
  options.locator_wait_ms = settings_.locator_wait_ms;
  if (settings_.interop) {
    options.interop = true;
    options.interop_file = settings_.interop_file;
  }

  // The checkpoint object exists whether or not checkpointing is on; it
  // takes up its file before the daemon object is made.
  factory_.createCheckpoint();
  if (settings_.checkpoint) {
    if (Status st = factory_.useCheckpointFile(settings_.checkpoint_file)) {
      return StartupFailure{"unexpected exception setting checkpoint file!",
                            std::move(st)};
    }
  }

  writeBanner(context_.trace, "Talvo daemon");
  setBrokerSetting(30);
  context_.config.setServerName("QV_daemon");

  if (Status st = factory_.createDaemon(options, core_)) {
    core_.reset();
    const bool comm = st->name() == kCommFailure;
    return StartupFailure{comm ? "Comm Failure - Check that you do not "
                                 "already have an Talvo daemon running!"
                               : "Unknown error initalising daemon",
                          std::move(st)};
  }
  if (!core_) return StartupFailure{"Unknown error initalising daemon", {}};
  if (Status st = core_->implIsReady()) {
    return StartupFailure{"", std::move(st)};
  }

  setDiagnosticsLevel(context_.config,
                      static_cast<std::uint16_t>(settings_.trace_level));
  // Level 0 is silent: while requests are served nothing is traced to
  // standard output (the log, when asked for, still gets every line).
  if (settings_.trace_level == 0) {
    if (MessageDispatcher* chain = context_.trace.msgDispatcher()) {
      stdout_muted_ = chain->deactivate(kStdOutName);
    }
  }
  watchLoop();
  // From here on the lines of a pass are written out together at its end.
  StdOutMessageHandler::setLineFlush(false);
  if (log_file_) log_file_->setLineFlush(false);
  return std::nullopt;
}

void DaemonHost::watchLoop() {
  // The stop is an event on the loop: nothing needs to be looked at while
  // the daemon is idle. The flag is already set when the waker runs.
  {
    std::shared_ptr<Waker> waker = core_->makeWaker([] {});
    std::lock_guard<std::mutex> lock(waker_mutex_);
    waker_ = std::move(waker);
  }
  // Ended children are reaped when their end is signalled, not on a timer.
  child_ends_ = std::make_unique<platform::ChildEndWatch>();
  const int fd = child_ends_->descriptor();
  // Reaped at once, so that a request later in the same pass finds the
  // end in the table; liveness tests then need no system call.
  children_watched_ = fd >= 0 && core_->watchReadable(fd, [this] {
    child_ends_->drain();
    platform::reapEndedChildren();
  });
  if (!children_watched_) child_ends_.reset();
  platform::setChildEndsSignalled(children_watched_);
}

std::optional<std::chrono::milliseconds> DaemonHost::waitBound() const {
  if (children_watched_ && waker_) return std::nullopt;
  return std::max(std::chrono::milliseconds(settings_.delay_ms), kShortestWait);
}

void DaemonHost::runOnce(std::optional<std::chrono::milliseconds> max_wait) {
  if (!core_) return;
  std::optional<std::chrono::milliseconds> wait = waitBound();
  if (max_wait && (!wait || *max_wait < *wait)) wait = max_wait;
  // A stop asked for before this pass must not wait for the next event.
  if (stopRequested()) wait = std::chrono::milliseconds(0);
  Status failure;
  try {
    failure = core_->runOnce(wait);
  } catch (const CORBA::SystemException& e) {
    failure = e.cloneSystem();
  }
  afterEvents(std::move(failure));
}

void DaemonHost::afterEvents(Status failure) {
  if (failure) printStatus(std::move(failure));
  // Ended server processes are reaped (their end stays known to the
  // activator's liveness test).
  if (!children_watched_) platform::reapEndedChildren();
  // Before the next wait: nothing is held back while the daemon is idle.
  StdOutMessageHandler::flushOutput();
  if (log_file_) log_file_->flush();
}

void DaemonHost::requestStop() {
  stop_requested_.store(true);
  std::lock_guard<std::mutex> lock(waker_mutex_);
  if (waker_) waker_->wake();
}

std::optional<std::string> DaemonHost::shutdown() {
  std::optional<std::string> failure;
  if (settings_.interop) {
    const std::string name =
        settings_.interop_file.empty() ? "talvod.ior" : settings_.interop_file;
    std::string text;
    if (core_) core_->iorText(text);
    // Written whole through a temporary file, so a reader never sees half
    // a reference; no line end is added.
    if (platform::writeFileAtomically(name, text)) {
      failure = "talvod: Unable to create file - " + name +
                ".\n Check the entry for 'CheckPointing File' in the Talvo "
                "Daemon Log section in the Talvo Configuration Tool";
    }
  }
  if (failure) return failure;
  {
    std::lock_guard<std::mutex> lock(waker_mutex_);
    waker_.reset();
  }
  core_.reset();
  platform::setChildEndsSignalled(false);
  child_ends_.reset();
  children_watched_ = false;
  removeLog();
  return std::nullopt;
}

}  // namespace talvo::daemon
