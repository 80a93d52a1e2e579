// talvodw's window with its daemon in this process (offscreen): menus and
// commands, the status bar, the dialogs and their settings-store writes,
// tray mode, and requests served while a modal dialog is open.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "client/daemon_client.h"
#include "daemon/daemon_core.h"
#include "runtime/config/config_chain.h"
#include "runtime/config/runtime_config.h"
#include "runtime/config/trace_stream.h"
#include "support/talvod.h"
#include "support/temp_dir.h"
#include "support/transport_context.h"
#include "window/window_app.h"
#include "window/window_texts.h"

namespace talvo::window {
namespace {

using talvo::testing::daemonRegistry;
using talvo::testing::readFile;
using talvo::testing::writeFile;

// Runs `act` on the next modal widget other than `outer`, as soon as the
// event loop shows one (within the test's patience).
void whenModal(std::function<void(QWidget*)> act, QWidget* outer = nullptr) {
  auto* timer = new QTimer;
  const auto deadline =
      std::chrono::steady_clock::now() + talvo::testing::kPatience;
  QObject::connect(timer, &QTimer::timeout, [=] {
    QWidget* modal = QApplication::activeModalWidget();
    const bool found = modal != nullptr && modal != outer;
    if (!found && std::chrono::steady_clock::now() < deadline) return;
    timer->stop();
    timer->deleteLater();
    if (found) act(modal);
  });
  timer->start(2);
}

template <class T = QPushButton>
T* control(QWidget* dialog, int id) {
  T* found = dialog->findChild<T*>(QString::number(id));
  EXPECT_NE(found, nullptr) << id;
  return found;
}

class WindowTest : public ::testing::Test {
 protected:
  void start(const std::string& settings, bool tray = false) {
    writeFile(registry(), daemonRegistry(settings) +
                              "[SOFTWARE\\Other]\nKeep=this ; as it is\n");
    factory_ = daemon::makeDaemonCoreFactory(context_);
    app_ = std::make_unique<DaemonWindowApp>(context_, *factory_, tray);
    ASSERT_FALSE(app_->start());
    window().setQuitHandler([this] { ++quits_; });
  }
  void TearDown() override {
    if (app_) {
      EXPECT_FALSE(app_->shutdown());
    }
    app_.reset();
    factory_.reset();
  }
  static std::string registry() { return ::getenv("QV_REGISTRY"); }
  MainWindow& window() { return app_->window(); }
  std::string status() {
    return window().statusBar()->currentMessage().toStdString();
  }
  // True once the output pane shows `text` (it is appended in batches).
  bool paneShows(const char* text) {
    return QTest::qWaitFor(
        [&] { return window().pane()->toPlainText().contains(text); });
  }
  // The name of the modal dialog that command `id` opens (closed again).
  std::string dialogOf(int id) {
    std::string name;
    whenModal([&](QWidget* w) {
      name = w->objectName().toStdString();
      w->close();
    });
    window().command(id);
    return name;
  }

  talvo::testing::TempDir files_;  // outlives the daemon's log
  daemon::DaemonContext context_{runtimeConfig(), traceStream()};
  std::unique_ptr<daemon::DaemonCoreFactory> factory_;
  std::unique_ptr<DaemonWindowApp> app_;
  int quits_ = 0;
};

// ---- Round trips -------------------------------------------------------

TEST_F(WindowTest, EveryMenuItemRunsItsCommand) {
  start("Log=yes\nLogFile=" + files_.file("d.log") + "\n");
  EXPECT_EQ(window().windowTitle(), "Talvo Daemon");
  EXPECT_EQ(window().geometry(), QRect(200, 200, 500, 300));
  EXPECT_EQ(window().menuWidget()->objectName(), "101");
  QStringList items;
  for (QAction* menu : window().menuWidget()->actions()) {
    for (QAction* a : menu->menu()->actions()) {
      items << (a->isSeparator() ? "-" : a->objectName() + a->text());
    }
  }
  EXPECT_EQ(items.join(" "),
            "40036&Output... 40033&Configuration... - 40003E&xit 40034&Clear "
            "40026&Status Bar 40032&Contents 40014&About...");
  // The banner reached the pane, the primary output, and the log file.
  EXPECT_TRUE(paneShows("Talvo daemon v2.3c"));
  EXPECT_EQ(readFile(files_.file("d.log")).rfind("Talvo daemon v2.3c", 0), 0u);

  EXPECT_EQ(dialogOf(kCmdAbout), "100");
  EXPECT_EQ(dialogOf(kCmdConfiguration), "127");
  EXPECT_EQ(dialogOf(kCmdOptions), "128");
  EXPECT_EQ(dialogOf(kCmdOutput), "129");
  window().command(kCmdContents);
  QDialog* help = window().findChild<QDialog*>("daemon.hlp");
  ASSERT_NE(help, nullptr);
  EXPECT_TRUE(help->isVisible());
  help->close();

  window().command(kCmdClear);
  EXPECT_TRUE(window().pane()->toPlainText().isEmpty());
  window().command(kCmdStatusBar);
  EXPECT_FALSE(window().statusBar()->isVisibleTo(&window()));
  EXPECT_FALSE(window().action(kCmdStatusBar)->isChecked());
  window().command(kCmdStatusBar);
  EXPECT_TRUE(window().statusBar()->isVisibleTo(&window()));
  // In window mode Exit and closing end the loop.
  window().command(kCmdExit);
  window().close();
  EXPECT_EQ(quits_, 2);
}

TEST_F(WindowTest, StatusBarShowsTheSelectedItemsHelpElseReady) {
  start("");
  EXPECT_EQ(status(), "Ready");
  window().action(kCmdOutput)->showStatusText(&window());
  EXPECT_EQ(status(), "Set level of trace output information");
  QStatusTipEvent left("");
  QApplication::sendEvent(&window(), &left);
  EXPECT_EQ(status(), "Ready");
  const std::pair<int, const char*> cases[] = {
      {kCmdStop, "Stop the Daaemon"},
      {kCmdOptions, "Set Daemon Options"},
      {kCmdHide, "Hide the Daemon Window"},
      {kSysRestore, "Restores the widow to normal size"},
      {kSysTaskList, "Activates the task list"},
      {3, "Ready"},          // the menus themselves
      {kCmdAbout, "Ready"},  // no string
  };
  for (auto [id, text] : cases) {
    window().menuSelect(id);
    EXPECT_EQ(status(), text) << id;
  }
  window().resize(400, 250);
  EXPECT_EQ(status(), "Ready");
}

// ---- The dialogs' settings ---------------------------------------------

TEST_F(WindowTest, OptionsSetDefaultsThenCancelWritesNothing) {
  start("ReapTime=7\nUPS=yes\nInterop=yes\nInteropFile=\nLog=no\r\n");
  const std::string before = readFile(registry());
  whenModal([&](QWidget* d) {
    auto* o = static_cast<OptionsDialog*>(d);
    EXPECT_EQ(o->reapTime()->text(), "7");
    // An empty InteropFile shows the dialog's own default (".iop").
    EXPECT_TRUE(o->interopFile()->text().endsWith("/talvo/daemon.iop"));
    EXPECT_FALSE(o->logFile()->isEnabled());
    control(d, kIdSetDefaults)->click();
    EXPECT_EQ(o->reapTime()->text(), "20");
    EXPECT_FALSE(o->interopBox()->isChecked());
    EXPECT_FALSE(o->interopFile()->isEnabled());
    EXPECT_TRUE(o->logBox()->isChecked());
    EXPECT_TRUE(o->logFile()->isEnabled());
    EXPECT_TRUE(o->logFile()->text().endsWith("/talvo/daemon.log"));
    control(d, kIdCancel)->click();
  });
  window().command(kCmdOptions);
  EXPECT_EQ(readFile(registry()), before);
}

TEST_F(WindowTest, OptionsOkRefusesAnEmptyFileThenWritesExactlyItsValues) {
  start("Interop=yes\nInteropFile=/old.ior\nLog=yes\nLogFile=/old.log\n");
  const std::string before = readFile(registry());
  std::vector<std::string> messages;
  auto closeMessage = [&](QWidget* box) {
    messages.push_back(static_cast<QMessageBox*>(box)->text().toStdString());
    box->close();
  };
  whenModal([&](QWidget* d) {
    auto* o = static_cast<OptionsDialog*>(d);
    for (QLineEdit* field : {o->interopFile(), o->logFile()}) {
      const QString kept = field->text();
      field->clear();
      whenModal(closeMessage, d);
      control(d, kIdOk)->click();
      EXPECT_TRUE(d->isVisible());
      EXPECT_EQ(d->focusWidget(), field);
      EXPECT_EQ(readFile(registry()), before);
      field->setText(kept);
    }
    o->reapTime()->setText("45");
    control<QCheckBox>(d, kIdUps)->setChecked(true);
    o->interopBox()->setChecked(false);  // InteropFile stays as it is
    o->logFile()->setText("/new.log");
    control(d, kIdOk)->click();
  });
  window().command(kCmdOptions);
  EXPECT_EQ(messages,
            (std::vector<std::string>{
                "You must specify a file to write the Interopable referance "
                "to.",
                "You must specify a file to log the Daemon Output to."}));
  EXPECT_EQ(readFile(registry()),
            daemonRegistry("Interop=no\nInteropFile=/old.ior\nLog=yes\n"
                           "LogFile=/new.log\nReapTime=45\nUPS=yes\n"
                           "Protected=no\n") +
                "[SOFTWARE\\Other]\nKeep=this ; as it is\n");
}

TEST_F(WindowTest, OutputDialogWritesTheLevelAndTheDaemonUsesItAtOnce) {
  start("TraceLevel=5\n");
  const std::pair<int, int> picks[] = {{0, 1}, {kIdMaximum, 2}};
  for (auto [button, level] : picks) {
    whenModal([&, button = button](QWidget* d) {
      auto* o = static_cast<OutputDialog*>(d);
      // 5 selects nothing; OK with nothing selected writes 1.
      if (button == 0) {
        EXPECT_EQ(o->selectedLevel(), -1);
      } else {
        control<QRadioButton>(d, button)->setChecked(true);
      }
      control(d, kIdOk)->click();
    });
    window().command(kCmdOutput);
    EXPECT_NE(readFile(registry()).find("TraceLevel=" + std::to_string(level)),
              std::string::npos);
    EXPECT_EQ(context_.config.diagnosticsLevel(), level);
  }
}

// ---- Tray mode ---------------------------------------------------------

TEST_F(WindowTest, TrayModeHidesOnCloseAndExitAndEndsOnlyOnStop) {
  start("", /*tray=*/true);
  EXPECT_EQ(window().menuWidget()->objectName(), "118");
  EXPECT_EQ(window().trayIcon()->toolTip(), "Talvo Daemon");
  EXPECT_FALSE(window().isVisible());
  window().trayDoubleClicked();
  EXPECT_TRUE(window().isVisible());
  window().close();
  EXPECT_FALSE(window().isVisible());
  window().trayDoubleClicked();
  window().command(kCmdExit);
  EXPECT_FALSE(window().isVisible());
  EXPECT_EQ(quits_, 0);
  window().command(kCmdStop);
  EXPECT_EQ(quits_, 1);
  EXPECT_FALSE(window().trayIcon()->isVisible());
}

// ---- Serving -----------------------------------------------------------

// serverExists(`name`) asked of the daemon on `port` by a client of its
// own (run on another thread).
Status serverExists(std::uint16_t port, const std::string& name, bool& exists) {
  struct Silent : protocol::TraceSink {
    int level() const override { return 0; }
    void line(std::string_view) override {}
  } trace;
  talvo::testing::QuietContext context;
  ConfigChain chain;
  RuntimeConfig config(chain);
  OrbOptions o;
  o.context = &context;
  o.config = &config;
  o.trace = &trace;
  o.reply_timeout_ms = 5000;
  o.connect_retries = false;
  Orb orb(o);
  Target t{"127.0.0.1", std::to_string(port),
           protocol::ObjectRef("localhost", "QV_daemon", "", "", "IR",
                               std::string(client::kDaemonInterfaceName))};
  client::DaemonClient daemon(orb, t);
  return daemon.serverExists(name, &exists);
}

TEST_F(WindowTest, RequestsAreServedWhileAModalDialogIsOpen) {
  start("");
  const std::uint16_t port = talvo::testing::listeningPort(::getpid());
  ASSERT_NE(port, 0);
  Status outcome = fail<CORBA::UNKNOWN>(0, "not called");
  bool exists = true;
  std::thread client;
  whenModal([&](QWidget* dialog) {
    client = std::thread([&, dialog = QPointer<QWidget>(dialog)] {
      outcome = serverExists(port, "bank", exists);
      QMetaObject::invokeMethod(
          qApp,
          [dialog] {
            if (dialog) dialog->close();
          },
          Qt::QueuedConnection);
    });
  });
  window().command(kCmdOptions);  // returns once the dialog is closed
  client.join();
  EXPECT_EQ(outcome, nullptr) << outcome->name();
  EXPECT_FALSE(exists);
  EXPECT_TRUE(paneShows("New Connection"));
}

// Pictures of the window (with a client's connection in its pane) and of
// each dialog, as PNG files: in $TALVO_PICTURES_DIR when set (docs/pictures
// holds the committed ones), else in a temporary folder.
TEST_F(WindowTest, PicturesOfTheWindowAndEachDialog) {
  start(
      "TraceLevel=1\nLog=no\nLogFile=/var/log/talvo/daemon.log\n"
      "InteropFile=/var/lib/talvo/daemon.ior\n");
  const std::uint16_t port = talvo::testing::listeningPort(::getpid());
  std::atomic<bool> served{false};
  std::thread client([&] {
    bool exists = false;
    (void)serverExists(port, "bank", exists);
    served = true;
  });
  EXPECT_TRUE(QTest::qWaitFor([&] { return served.load(); }));
  client.join();
  EXPECT_TRUE(paneShows("New Connection"));
  talvo::testing::TempDir temp;
  const char* wanted = ::getenv("TALVO_PICTURES_DIR");
  const QString dir = QString::fromStdString(wanted ? wanted : temp.path());
  std::vector<QString> files = {dir + "/talvodw-window.png"};
  window().raise();
  EXPECT_TRUE(window().grab().save(files.back()));
  const std::pair<int, const char*> dialogs[] = {
      {kCmdOptions, "options"},
      {kCmdOutput, "output"},
      {kCmdConfiguration, "configuration"},
      {kCmdAbout, "about"}};
  for (auto [id, name] : dialogs) {
    files.push_back(dir + "/talvodw-" + name + ".png");
    whenModal([&](QWidget* d) {
      EXPECT_TRUE(d->grab().save(files.back()));
      d->close();
    });
    window().command(id);
  }
  for (const QString& file : files) {
    EXPECT_GT(QImage(file).width(), 100) << file.toStdString();
  }
}

}  // namespace
}  // namespace talvo::window
