// The dialogs of the window front end, all modal and owned by the main
// window: Options (the daemon's settings, written to the settings store's
// Daemon key on OK and used at the next start), Output (the trace level,
// applied at once by the main window), Configuration (the run time's
// configuration values, read-only) and About. Each dialog and control
// carries its identifier as its objectName.
//
// A help window shows the help texts that ship with the program.
//
// Threading: the GUI thread.

#ifndef TALVO_WINDOW_DIALOGS_H_
#define TALVO_WINDOW_DIALOGS_H_

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QRadioButton>
#include <string>
#include <utility>
#include <vector>

namespace talvo::window {

// What the options dialog offers for a file field whose value is empty.
struct DialogDefaults {
  std::string log_file;
  std::string interop_file;
};

// Labels and values of the configuration dialog, in order.
using ConfigurationValues = std::vector<std::pair<std::string, std::string>>;

class OptionsDialog : public QDialog {
 public:
  OptionsDialog(DialogDefaults defaults, QWidget* parent);

  // "&Set Defaults": the fields only; nothing is written.
  void setDefaults();
  // OK: refuses an empty file field of a ticked box (message, focus, the
  // dialog stays open), else writes the settings and closes.
  void accept() override;

  QLineEdit* reapTime() { return reap_; }
  QCheckBox* interopBox() { return interop_; }
  QLineEdit* interopFile() { return interop_file_; }
  QCheckBox* logBox() { return log_; }
  QLineEdit* logFile() { return log_file_; }

 private:
  void load();
  void stepReapTime(int step);
  void enableFileFields();
  bool fileGiven(QCheckBox* box, QLineEdit* field, const char* message);

  DialogDefaults defaults_;
  QLineEdit* reap_;
  QCheckBox* ups_;
  QCheckBox* protected_;
  QCheckBox* interop_;
  QLineEdit* interop_file_;
  QCheckBox* log_;
  QLineEdit* log_file_;
};

class OutputDialog : public QDialog {
 public:
  explicit OutputDialog(QWidget* parent);
  // OK: writes the level of the selected button (1 when none is) to
  // TraceLevel.
  void accept() override;
  // 0, 1 or 2 for the selected button, -1 when none is.
  int selectedLevel() const;

 private:
  QRadioButton* buttons_[3];
};

class ConfigurationDialog : public QDialog {
 public:
  ConfigurationDialog(const ConfigurationValues& values, QWidget* parent);
};

class AboutDialog : public QDialog {
 public:
  explicit AboutDialog(QWidget* parent);
};

// The texts shipped with the program: the daemon's help ("daemon.hlp") and
// the options' ("talref.hlp").
enum class HelpText { kDaemon, kOptions };
// Opens a help window (non-modal, deleted when closed) at the contents of
// `text`, owned by `parent`.
QDialog* showHelp(HelpText text, QWidget* parent);

// The program's icon (resource 127), drawn.
QIcon programIcon();

// The information box of the dialogs' Help buttons.
void noHelpAvailable(QWidget* parent);

// The settings store's TraceLevel, 1 when empty or missing.
int readTraceLevel();

}  // namespace talvo::window

#endif  // TALVO_WINDOW_DIALOGS_H_
