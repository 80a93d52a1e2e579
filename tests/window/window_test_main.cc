// The window tests' main: the settings, repository and state folders of a
// temporary folder, the daemon on a port the system picks, then the
// QApplication on the offscreen platform and the run time's start-up.

#include <gtest/gtest.h>

#include <QApplication>
#include <filesystem>

#include "daemon/runtime_link.h"
#include "platform/signals.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

// Under LeakSanitizer: what Qt and the font libraries keep for the process
// on purpose (caches freed by the system at exit) is not reported.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libQt6Core.so\nleak:libQt6Gui.so\n"
         "leak:libQt6Widgets.so\nleak:libglib-2.0.so\n";
}

int main(int argc, char** argv) {
  using talvo::testing::ScopedEnv;
  talvo::platform::blockControlSignals();
  talvo::testing::TempDir dir;
  std::filesystem::create_directories(dir.file("imprep"));
  ScopedEnv env[] = {{"QT_QPA_PLATFORM", "offscreen"},
                     {"QV_REGISTRY", dir.file("registry")},
                     {"QV_IMP_REP_PATH", dir.file("imprep")},
                     {"QV_DAEMON_PORT", "0"},
                     {"QV_USE_CONFIG_FILE", "no"},
                     {"XDG_STATE_HOME", dir.file("state")}};
  talvo::daemon::RuntimeStartupGuard guard;
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
