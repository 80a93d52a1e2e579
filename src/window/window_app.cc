#include "window/window_app.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <cstdio>
#include <filesystem>

#include "daemon/runtime_link.h"
#include "platform/environment.h"
#include "platform/message_box.h"
#include "platform/program.h"
#include "platform/signals.h"
#include "runtime/config/runtime_config.h"
#include "window/window_texts.h"

namespace talvo::window {

std::string desktopStateFolder() {
  if (std::optional<std::string> state = platform::getEnv("XDG_STATE_HOME")) {
    return *state + "/talvo";
  }
  if (std::optional<std::string> home = platform::getEnv("HOME")) {
    return *home + "/.local/state/talvo";
  }
  return {};
}

ConfigurationValues configurationValues(RuntimeConfig& config) {
  auto text = [](const char* value) {
    return value == nullptr ? std::string() : std::string(value);
  };
  return {
      {"Local Host Name", config.hostName()},
      {"Local Domain Name", text(config.localDomain())},
      {"Daemon Port", text(config.daemonPort())},
      {"Daemon Port Base", text(config.daemonServerBase())},
      {"Daemon Port Range", text(config.daemonServerRange())},
      {"Locator Files Directory", text(config.locatorPath())},
      {"Interface Repository", text(config.intRepPath())},
      {"Implementation Repository", text(config.impRepPath())},
      {"Errors File", text(config.errors())},
  };
}

void showWindowMessageBox(std::string_view title, std::string_view text) {
  // Written out first: seen even when no box can be shown.
  platform::writeMessageBoxText(title, text);
  std::fflush(nullptr);
  if (qApp == nullptr || QThread::currentThread() != qApp->thread()) return;
  QMessageBox::warning(nullptr,
                       QString::fromUtf8(title.data(), qsizetype(title.size())),
                       QString::fromUtf8(text.data(), qsizetype(text.size())));
}

void windowFatal(const std::string& text) {
  showWindowMessageBox(kCaption, text);
  platform::exitImmediately(1);
}

DaemonWindowApp::DaemonWindowApp(daemon::DaemonContext context,
                                 daemon::DaemonCoreFactory& factory, bool tray,
                                 platform::StopSignalWatch* stop_signals)
    : context_(context),
      host_(context, factory),
      tray_(tray),
      stop_signals_(stop_signals) {}

DaemonWindowApp::~DaemonWindowApp() {
  // The loop goes with the host: stop driving it first.
  driver_.reset();
}

std::optional<daemon::StartupFailure> DaemonWindowApp::start() {
  daemon::DefaultFiles files;
  DialogDefaults offered{"/var/log/talvo/daemon.log",
                         "/var/lib/talvo/daemon.iop"};
  const std::string state = desktopStateFolder();
  if (!state.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(state, ec);
    files = {state + "/daemon.log", state + "/daemon.ior"};
    offered = {state + "/daemon.log", state + "/daemon.iop"};
  }

  window_ = std::make_unique<MainWindow>(offered);
  window_->show();
  host_.setPrimaryOutput(&window_->output());
  host_.setDefaultFiles(files);
  if (std::optional<daemon::StartupFailure> failure = host_.start()) {
    return failure;
  }
  window_->attachMenu(tray_);
  window_->setConfiguration(configurationValues(context_.config));
  window_->setTraceLevelHandler([this](int level) {
    daemon::setDiagnosticsLevel(context_.config,
                                static_cast<std::uint16_t>(level));
  });

  if (EventLoop* loop = host_.core()->loop()) {
    driver_ = std::make_unique<QtLoopDriver>(*loop, [this](Status failure) {
      host_.afterEvents(std::move(failure));
    });
  }
  if (stop_signals_ != nullptr && stop_signals_->descriptor() >= 0) {
    stop_notifier_ = std::make_unique<QSocketNotifier>(
        stop_signals_->descriptor(), QSocketNotifier::Read);
    QObject::connect(stop_notifier_.get(), &QSocketNotifier::activated,
                     window_.get(), [this] {
                       if (stop_signals_->take() != 0) {
                         window_->command(kCmdStop);
                       }
                     });
  }
  return std::nullopt;
}

int DaemonWindowApp::run() { return QApplication::exec(); }

std::optional<std::string> DaemonWindowApp::shutdown() {
  stop_notifier_.reset();
  driver_.reset();
  std::optional<std::string> failure = host_.shutdown();
  if (!failure) window_.reset();
  return failure;
}

}  // namespace talvo::window
