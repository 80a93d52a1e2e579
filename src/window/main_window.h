// MainWindow: the window of talvodw. Title "Talvo Daemon", the program's
// icon, at (200, 200) with extent 500 x 300; a read-only output pane (the
// daemon's primary output) above a status bar that shows the selected menu
// item's help and "Ready" otherwise; menu 101, or in tray mode menu 118
// (with "&Stop") and a tray icon from which the hidden window is shown.
//
// Commands run by identifier (command()), from the menus, F1 (help) and
// Ctrl+O (options). Ending the message loop and applying a new trace level
// are handed to the callbacks the program sets, so that the window is the
// same in tests.
//
// Threading: the GUI thread.

#ifndef TALVO_WINDOW_MAIN_WINDOW_H_
#define TALVO_WINDOW_MAIN_WINDOW_H_

#include <QAction>
#include <QMainWindow>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSystemTrayIcon>
#include <functional>
#include <map>
#include <memory>
#include <string_view>

#include "daemon/daemon_log.h"
#include "window/dialogs.h"

namespace talvo::window {

class MainWindow : public QMainWindow {
 public:
  explicit MainWindow(DialogDefaults defaults, QWidget* parent = nullptr);
  ~MainWindow() override;

  // The output pane as an output of DaemonOutput: each message is
  // appended (within 50 ms, many messages at once). The pane
  // keeps the latest lines only (kPaneLines).
  daemon::OutputTarget& output();
  static constexpr int kPaneLines = 10000;

  // Tray mode: menu 118, the tray icon, the window hidden. Otherwise (or
  // without a system tray) menu 101, the window as it is.
  void attachMenu(bool tray);
  bool trayMode() const { return tray_mode_; }
  QSystemTrayIcon* trayIcon() { return tray_; }

  void setConfiguration(ConfigurationValues values) {
    configuration_ = std::move(values);
  }
  // Ends the message loop (default: QCoreApplication::quit).
  void setQuitHandler(std::function<void()> quit) { quit_ = std::move(quit); }
  // Applies a trace level read after the output dialog's OK.
  void setTraceLevelHandler(std::function<void(int)> apply) {
    apply_trace_level_ = std::move(apply);
  }

  // Runs command `id` as its menu item does.
  void command(int id);
  // The status text while menu item `id` is selected.
  void menuSelect(int id);
  // The tray icon's double click: shows the window.
  void trayDoubleClicked();

  QAction* action(int id) const;
  QPlainTextEdit* pane() { return pane_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool event(QEvent* event) override;

 private:
  class PaneOutput;

  QAction* addCommand(int id, const char* text);
  QMenuBar* buildMenu(int id);
  void run(int id);
  void showModal(QDialog& dialog);

  DialogDefaults defaults_;
  QPlainTextEdit* pane_;
  std::unique_ptr<PaneOutput> output_;
  std::map<int, QAction*> actions_;
  QMenuBar* menus_[2] = {nullptr, nullptr};  // 101, 118
  QSystemTrayIcon* tray_ = nullptr;
  bool tray_mode_ = false;
  bool showing_ = false;  // guards against re-entrant showing
  ConfigurationValues configuration_;
  std::function<void()> quit_;
  std::function<void(int)> apply_trace_level_;
};

}  // namespace talvo::window

#endif  // TALVO_WINDOW_MAIN_WINDOW_H_
