// talvodw: the daemon behind a window. "--tray" runs it from the system
// tray; "--help" and "--version" answer without starting anything.

#include <QApplication>
#include <QSystemTrayIcon>
#include <cstdio>
#include <cstring>

#include "daemon/daemon_core.h"
#include "daemon/runtime_link.h"
#include "platform/message_box.h"
#include "platform/signals.h"
#include "runtime/config/runtime_config.h"
#include "runtime/config/trace_stream.h"
#include "runtime/except/new_handler.h"
#include "window/window_app.h"

namespace {

constexpr char kUsage[] =
    "Usage: talvodw [--tray]\n"
    "The Talvo activation daemon behind a window.\n"
    "\n"
    "  --tray     run from the system tray (without one: in a window)\n"
    "  --help     print this text\n"
    "  --version  print the version\n"
    "\n"
    "Qt's own options (-platform NAME, ...) are accepted as well. The\n"
    "settings are read from $QV_REGISTRY (default /etc/talvo/registry),\n"
    "the configuration from $QV_CONFIG_PATH (default /etc/talvo/Talvo.cfg).\n"
    "SIGINT and SIGTERM stop the daemon as Stop does.\n"
    "\n"
    "Exit status: 0 after Exit, Stop or a signal, 1 when start-up or the\n"
    "tear-down fails, 2 for a bad option. See talvodw(8).\n";

constexpr char kVersion[] = "talvodw (Talvo) 2.3c\n";

}  // namespace

// Under LeakSanitizer: what Qt and the font libraries keep for the process
// on purpose (caches freed by the system at exit) is not reported.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libQt6Core.so\nleak:libQt6Gui.so\n"
         "leak:libQt6Widgets.so\nleak:libglib-2.0.so\n";
}

int main(int argc, char** argv) {
  using namespace talvo;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::fputs(kVersion, stdout);
      return 0;
    }
  }
  // Before any thread: children's ends and SIGINT/SIGTERM wait for the
  // loop's descriptors.
  platform::blockControlSignals();
  platform::StopSignalWatch stop_signals;
  daemon::RuntimeStartupGuard guard;
  installNewHandler();
  daemon::DaemonContext context{runtimeConfig(), traceStream()};
  daemon::prepareRuntime(context.config);

  QApplication app(argc, argv);
  platform::setMessageBoxHook(window::showWindowMessageBox);
  // Hidden in the tray, the program goes on without a window.
  QApplication::setQuitOnLastWindowClosed(false);
  bool tray = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--tray") == 0) {
      tray = true;
    } else {
      std::fprintf(stderr,
                   "talvodw: unknown option '%s' (talvodw --help lists the "
                   "options)\n",
                   argv[i]);
      return 2;
    }
  }
  if (tray && !QSystemTrayIcon::isSystemTrayAvailable()) {
    std::fputs("talvodw: no system tray is available; running in a window\n",
               stderr);
    tray = false;
  }

  int code = 0;
  {
    // Makes the port allocator now, as the entry does.
    std::unique_ptr<daemon::DaemonCoreFactory> factory =
        daemon::makeDaemonCoreFactory(context);
    window::DaemonWindowApp daemon_app(context, *factory, tray, &stop_signals);
    if (std::optional<daemon::StartupFailure> failure = daemon_app.start()) {
      if (failure->message.empty()) daemon::endStartup(*failure);
      window::windowFatal(failure->message);
    }
    code = daemon_app.run();
    if (std::optional<std::string> failure = daemon_app.shutdown()) {
      window::windowFatal(*failure);
    }
  }
  return code;
}
