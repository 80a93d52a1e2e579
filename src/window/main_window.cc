#include "window/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QKeySequence>
#include <QScrollBar>
#include <QShortcut>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTextCursor>
#include <QTimer>
#include <chrono>
#include <string>

#include "window/window_texts.h"

namespace talvo::window {

// Messages are gathered and appended at most every kPaneDelay: laying the
// text out and painting it never delays a reply, and a busy daemon does it
// for many requests at once (an idle one sets no timer).
constexpr std::chrono::milliseconds kPaneDelay{50};

class MainWindow::PaneOutput : public daemon::OutputTarget {
 public:
  explicit PaneOutput(QPlainTextEdit* pane) : pane_(pane) {}
  void write(std::string_view text) override {
    pending_.append(text);
    if (scheduled_) return;
    scheduled_ = true;
    QTimer::singleShot(kPaneDelay, pane_, [this] { flush(); });
  }
  void flush() {
    scheduled_ = false;
    if (pending_.empty()) return;
    QTextCursor end(pane_->document());
    end.movePosition(QTextCursor::End);
    end.insertText(QString::fromUtf8(pending_.data(),
                                     static_cast<qsizetype>(pending_.size())));
    pending_.clear();
    QScrollBar* bar = pane_->verticalScrollBar();
    bar->setValue(bar->maximum());
  }

 private:
  QPlainTextEdit* pane_;
  std::string pending_;
  bool scheduled_ = false;
};

MainWindow::MainWindow(DialogDefaults defaults, QWidget* parent)
    : QMainWindow(parent), defaults_(std::move(defaults)) {
  setWindowTitle(kTitle);
  setWindowIcon(programIcon());
  setGeometry(200, 200, 500, 300);

  pane_ = new QPlainTextEdit(this);
  pane_->setObjectName("output");
  pane_->setReadOnly(true);
  pane_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  pane_->setMaximumBlockCount(kPaneLines);
  pane_->setLineWrapMode(QPlainTextEdit::NoWrap);
  QFont small = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  small.setPointSize(8);
  pane_->setFont(small);
  setCentralWidget(pane_);
  output_ = std::make_unique<PaneOutput>(pane_);
  statusBar()->showMessage(kReady);

  addCommand(kCmdOutput, "&Output...");
  addCommand(kCmdConfiguration, "&Configuration...");
  addCommand(kCmdStop, "&Stop");
  addCommand(kCmdExit, "E&xit");
  addCommand(kCmdClear, "&Clear");
  QAction* status = addCommand(kCmdStatusBar, "&Status Bar");
  status->setCheckable(true);
  status->setChecked(true);
  addCommand(kCmdContents, "&Contents");
  addCommand(kCmdAbout, "&About...");
  // The options have no menu item: Ctrl+O opens them.
  QAction* options = addCommand(kCmdOptions, "Options...");
  options->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  addAction(options);
  auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
  connect(f1, &QShortcut::activated, this,
          [this] { showHelp(HelpText::kDaemon, this); });

  menus_[0] = buildMenu(kMenuWindow);
  menus_[1] = buildMenu(kMenuTray);

  tray_ = new QSystemTrayIcon(programIcon(), this);
  tray_->setObjectName(QString::fromStdString(idName(kTrayIconId)));
  tray_->setToolTip(kTitle);
  connect(tray_, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::DoubleClick) trayDoubleClicked();
          });
  quit_ = [] { QCoreApplication::quit(); };
}

MainWindow::~MainWindow() {
  // The menu not attached (both, when none was) is not owned by the window.
  for (QMenuBar* bar : menus_) {
    if (bar != nullptr && bar != menuWidget()) delete bar;
  }
}

daemon::OutputTarget& MainWindow::output() { return *output_; }

QAction* MainWindow::addCommand(int id, const char* text) {
  auto* a = new QAction(text, this);
  a->setObjectName(QString::fromStdString(idName(id)));
  a->setStatusTip(QString::fromStdString(menuHelpText(id)));
  connect(a, &QAction::triggered, this, [this, id] { run(id); });
  actions_[id] = a;
  return a;
}

QAction* MainWindow::action(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

QMenuBar* MainWindow::buildMenu(int id) {
  auto* bar = new QMenuBar;
  bar->setObjectName(QString::fromStdString(idName(id)));
  QMenu* daemon = bar->addMenu("&Daemon");
  daemon->addAction(action(kCmdOutput));
  daemon->addAction(action(kCmdConfiguration));
  if (id == kMenuTray) daemon->addAction(action(kCmdStop));
  daemon->addSeparator();
  daemon->addAction(action(kCmdExit));
  bar->addMenu("&Edit")->addAction(action(kCmdClear));
  bar->addMenu("&View")->addAction(action(kCmdStatusBar));
  QMenu* help = bar->addMenu("&Help");
  help->addAction(action(kCmdContents));
  help->addAction(action(kCmdAbout));
  return bar;
}

void MainWindow::attachMenu(bool tray) {
  tray_mode_ = tray;
  // setMenuBar() takes the bar and deletes the one it replaces.
  QMenuBar*& chosen = menus_[tray ? 1 : 0];
  QMenuBar*& other = menus_[tray ? 0 : 1];
  setMenuBar(chosen);
  delete other;
  other = nullptr;
  if (tray) {
    tray_->show();
    hide();
  }
}

void MainWindow::command(int id) {
  if (QAction* a = action(id)) {
    a->trigger();
  } else {
    run(id);
  }
}

void MainWindow::run(int id) {
  switch (id) {
    case kCmdExit:
      if (tray_mode_) {
        hide();
      } else {
        quit_();
      }
      break;
    case kCmdStop:
      if (tray_mode_) tray_->hide();
      quit_();
      break;
    case kCmdAbout: {
      AboutDialog dialog(this);
      showModal(dialog);
      break;
    }
    case kCmdStatusBar:
      // The item's mark has already changed with the selection.
      statusBar()->setVisible(action(kCmdStatusBar)->isChecked());
      break;
    case kCmdContents:
      showHelp(HelpText::kDaemon, this);
      break;
    case kCmdConfiguration: {
      ConfigurationDialog dialog(configuration_, this);
      showModal(dialog);
      break;
    }
    case kCmdClear:
      output_->flush();
      pane_->clear();
      break;
    case kCmdOptions: {
      OptionsDialog dialog(defaults_, this);
      showModal(dialog);
      break;
    }
    case kCmdOutput: {
      OutputDialog dialog(this);
      showModal(dialog);
      if (dialog.result() == QDialog::Accepted && apply_trace_level_) {
        apply_trace_level_(readTraceLevel());
      }
      break;
    }
    default:
      break;
  }
}

void MainWindow::showModal(QDialog& dialog) { dialog.exec(); }

void MainWindow::menuSelect(int id) {
  statusBar()->showMessage(QString::fromStdString(menuHelpText(id)));
}

void MainWindow::trayDoubleClicked() {
  if (showing_) return;
  showing_ = true;
  showNormal();
  raise();
  activateWindow();
  showing_ = false;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (tray_mode_) {
    hide();
    event->ignore();
    return;
  }
  event->accept();
  quit_();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  statusBar()->showMessage(kReady);
}

bool MainWindow::event(QEvent* event) {
  if (event->type() == QEvent::StatusTip) {
    // Leaving an item clears its tip: "Ready" again.
    const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
    statusBar()->showMessage(tip.isEmpty() ? QString(kReady) : tip);
    return true;
  }
  return QMainWindow::event(event);
}

}  // namespace talvo::window
