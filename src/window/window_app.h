// DaemonWindowApp: talvodw's daemon behind its window. The same daemon host
// as talvod's service, with the window's differences: the output pane is
// the primary output (the log file, when on, the secondary one), there is
// no Priority (no polling loop: the run time's loop is driven from Qt's by
// QtLoopDriver), and the tear-down runs when the message loop ends.
//
//   start()     the window made and shown, the daemon started, the menu of
//               the mode attached (tray mode hides the window), the
//               configuration handed to the window, the loop driven;
//   run()       Qt's message loop, until Exit (window mode), Stop, closing
//               the window (window mode), SIGINT or SIGTERM;
//   shutdown()  the loop no longer driven, the interoperable-reference
//               file written when asked for, the daemon deleted.
//
// Run by a desktop user, the default log and interop files are in
// $XDG_STATE_HOME/talvo (default ~/.local/state/talvo).
//
// Threading: the GUI thread; a QApplication must exist.

#ifndef TALVO_WINDOW_WINDOW_APP_H_
#define TALVO_WINDOW_WINDOW_APP_H_

#include <QSocketNotifier>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "daemon/daemon_core.h"
#include "daemon/daemon_host.h"
#include "window/dialogs.h"
#include "window/main_window.h"
#include "window/qt_loop_driver.h"

namespace talvo::platform {
class StopSignalWatch;
}

namespace talvo::window {

// The folder of a desktop user's default files, or empty when neither
// XDG_STATE_HOME nor HOME is set.
std::string desktopStateFolder();

// The nine values of the configuration dialog, from the run time.
ConfigurationValues configurationValues(RuntimeConfig& config);

class DaemonWindowApp {
 public:
  // `factory` and `stop_signals` (may be null) are not owned and must
  // outlive the app.
  DaemonWindowApp(daemon::DaemonContext context,
                  daemon::DaemonCoreFactory& factory, bool tray,
                  platform::StopSignalWatch* stop_signals = nullptr);
  ~DaemonWindowApp();

  std::optional<daemon::StartupFailure> start();
  int run();
  // The message-box text when the interop file cannot be written.
  std::optional<std::string> shutdown();

  MainWindow& window() { return *window_; }
  daemon::DaemonHost& host() { return host_; }
  QtLoopDriver* driver() { return driver_.get(); }

 private:
  daemon::DaemonContext context_;
  daemon::DaemonHost host_;
  bool tray_;
  platform::StopSignalWatch* stop_signals_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<QtLoopDriver> driver_;
  std::unique_ptr<QSocketNotifier> stop_notifier_;
};

// talvodw's message boxes: the text on standard error and in syslog as
// talvod writes it, then (on the GUI thread) a Qt message box with the
// exclamation icon. main() makes it the platform's message-box hook.
void showWindowMessageBox(std::string_view title, std::string_view text);

// A start-up or tear-down failure of talvodw: the message box, exit code 1.
[[noreturn]] void windowFatal(const std::string& text);

}  // namespace talvo::window

#endif  // TALVO_WINDOW_WINDOW_APP_H_
