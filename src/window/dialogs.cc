#include "window/dialogs.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QTextBrowser>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>

#include "daemon/daemon_settings.h"
#include "platform/settings_store.h"
#include "window/help_texts.h"
#include "window/window_texts.h"

namespace talvo::window {
namespace {

QString q(const std::string& text) { return QString::fromStdString(text); }
std::string s(const QString& text) { return text.toStdString(); }
QString name(int id) { return q(idName(id)); }

// The values of the Daemon key, or nullopt when it cannot be opened.
std::optional<platform::SettingsKey> daemonKey() {
  return platform::SettingsKey::open(daemon::kDaemonKey);
}

std::string valueOf(const std::optional<platform::SettingsKey>& key,
                    const char* value) {
  if (!key) return {};
  return key->value(value).value_or(std::string());
}

QPushButton* addButton(QDialogButtonBox* box, int id, const QString& text,
                       QDialogButtonBox::ButtonRole role) {
  QPushButton* b = box->addButton(text, role);
  b->setObjectName(name(id));
  return b;
}

void warn(QWidget* parent, const QString& text) {
  QMessageBox::warning(parent, kCaption, text);
}

// The dialog's button row: OK (the default), and with `full` also Cancel
// and Help; OK accepts, Cancel rejects.
QDialogButtonBox* dialogButtons(QDialog* dialog, bool full) {
  auto* buttons = new QDialogButtonBox(dialog);
  addButton(buttons, kIdOk, "OK", QDialogButtonBox::AcceptRole)
      ->setDefault(true);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog,
                   &QDialog::accept);
  if (full) {
    addButton(buttons, kIdCancel, "Cancel", QDialogButtonBox::RejectRole);
    QObject::connect(
        addButton(buttons, kIdHelp, "&Help", QDialogButtonBox::HelpRole),
        &QPushButton::clicked, dialog, [dialog] { noHelpAvailable(dialog); });
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog,
                     &QDialog::reject);
  }
  return buttons;
}

}  // namespace

QIcon programIcon() {
  QPixmap pixmap(64, 64);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QColor(0x1f, 0x4e, 0x79));
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(2, 2, 60, 60, 12, 12);
  p.setBrush(QColor(0xf2, 0xa9, 0x00));
  p.drawEllipse(QPointF(48, 16), 7, 7);
  QFont font = p.font();
  font.setBold(true);
  font.setPixelSize(44);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRect(0, 6, 64, 58), Qt::AlignCenter, "T");
  p.end();
  return QIcon(pixmap);
}

void noHelpAvailable(QWidget* parent) {
  QMessageBox::information(parent, kCaption, "No Help available :(");
}

int readTraceLevel() {
  const std::string text = valueOf(daemonKey(), "TraceLevel");
  return text.empty() ? 1 : daemon::atoiValue(text);
}

QDialog* showHelp(HelpText text, QWidget* parent) {
  auto* window = new QDialog(parent);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->setObjectName(text == HelpText::kDaemon ? "daemon.hlp"
                                                  : "talref.hlp");
  window->setWindowTitle(text == HelpText::kDaemon ? "Talvo Daemon Help"
                                                   : "Talvo Reference Help");
  auto* browser = new QTextBrowser(window);
  browser->setHtml(QString::fromUtf8(
      text == HelpText::kDaemon ? daemonHelpHtml() : optionsHelpHtml()));
  auto* layout = new QVBoxLayout(window);
  layout->addWidget(browser);
  window->resize(520, 420);
  window->show();
  return window;
}

// ---- Options --------------------------------------------------------------

OptionsDialog::OptionsDialog(DialogDefaults defaults, QWidget* parent)
    : QDialog(parent), defaults_(std::move(defaults)) {
  setObjectName(name(kOptionsDialogId));
  setWindowTitle("Talvo Daemon Options");

  reap_ = new QLineEdit(this);
  reap_->setObjectName(name(kIdReapTime));
  reap_->setMaximumWidth(60);
  // The up-down control bound to the field: 1 to 999.
  auto* spin = new QWidget(this);
  spin->setObjectName(name(kIdReapSpin));
  auto* spin_layout = new QVBoxLayout(spin);
  spin_layout->setContentsMargins(0, 0, 0, 0);
  spin_layout->setSpacing(0);
  for (int step : {1, -1}) {
    auto* arrow = new QToolButton(spin);
    arrow->setArrowType(step > 0 ? Qt::UpArrow : Qt::DownArrow);
    arrow->setObjectName(step > 0 ? "up" : "down");
    arrow->setAutoRepeat(true);
    arrow->setFixedSize(18, 11);
    connect(arrow, &QToolButton::clicked, this,
            [this, step] { stepReapTime(step); });
    spin_layout->addWidget(arrow);
  }
  auto* reap_row = new QHBoxLayout;
  reap_row->addWidget(new QLabel("Reap Chlid Processes (Seconds)", this));
  reap_row->addStretch();
  reap_row->addWidget(reap_);
  reap_row->addWidget(spin);

  auto box = [this](int id, const char* text) {
    auto* b = new QCheckBox(text, this);
    b->setObjectName(name(id));
    return b;
  };
  ups_ = box(kIdUps, "Allow invocations on unregistered persistent servers");
  protected_ = box(kIdProtected, "Run the Daemon in protected mode");
  interop_ = box(kIdInterop, "Log Interoperable referance to file - ");
  log_ = box(kIdLog, "Log Daemon output to file -");
  interop_file_ = new QLineEdit(this);
  interop_file_->setObjectName(name(kIdInteropFile));
  log_file_ = new QLineEdit(this);
  log_file_->setObjectName(name(kIdLogFile));
  connect(interop_, &QCheckBox::toggled, this, [this] { enableFileFields(); });
  connect(log_, &QCheckBox::toggled, this, [this] { enableFileFields(); });

  QDialogButtonBox* buttons = dialogButtons(this, true);
  connect(addButton(buttons, kIdSetDefaults, "&Set Defaults",
                    QDialogButtonBox::ResetRole),
          &QPushButton::clicked, this, [this] { setDefaults(); });
  auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
  connect(f1, &QShortcut::activated, this,
          [this] { showHelp(HelpText::kOptions, this); });

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(reap_row);
  layout->addWidget(ups_);
  layout->addWidget(protected_);
  for (auto [check, field] :
       {std::pair{interop_, interop_file_}, std::pair{log_, log_file_}}) {
    auto* row = new QHBoxLayout;
    row->addWidget(check);
    row->addWidget(field, 1);
    layout->addLayout(row);
  }
  layout->addWidget(buttons);
  resize(560, sizeHint().height());
  load();
}

void OptionsDialog::load() {
  const std::optional<platform::SettingsKey> key = daemonKey();
  const std::string reap = valueOf(key, "ReapTime");
  reap_->setText(reap.empty() ? "20" : q(reap));
  ups_->setChecked(daemon::isYes(valueOf(key, "UPS")));
  protected_->setChecked(daemon::isYes(valueOf(key, "Protected")));
  interop_->setChecked(daemon::isYes(valueOf(key, "Interop")));
  log_->setChecked(daemon::isYes(valueOf(key, "Log")));
  const std::string interop_file = valueOf(key, "InteropFile");
  interop_file_->setText(
      q(interop_file.empty() ? defaults_.interop_file : interop_file));
  const std::string log_file = valueOf(key, "LogFile");
  log_file_->setText(q(log_file.empty() ? defaults_.log_file : log_file));
  enableFileFields();
}

void OptionsDialog::stepReapTime(int step) {
  const int now = daemon::atoiValue(s(reap_->text()));
  reap_->setText(QString::number(std::clamp(now + step, 1, 999)));
}

void OptionsDialog::enableFileFields() {
  interop_file_->setEnabled(interop_->isChecked());
  log_file_->setEnabled(log_->isChecked());
}

void OptionsDialog::setDefaults() {
  reap_->setText("20");
  ups_->setChecked(false);
  protected_->setChecked(false);
  interop_->setChecked(false);
  log_->setChecked(true);
  log_file_->setText(q(defaults_.log_file));
  enableFileFields();
}

bool OptionsDialog::fileGiven(QCheckBox* box, QLineEdit* field,
                              const char* message) {
  if (!box->isChecked() || !field->text().isEmpty()) return true;
  warn(this, message);
  field->setFocus();
  return false;
}

void OptionsDialog::accept() {
  if (!fileGiven(interop_, interop_file_,
                 "You must specify a file to write the Interopable referance "
                 "to.") ||
      !fileGiven(log_, log_file_,
                 "You must specify a file to log the Daemon Output to.")) {
    return;
  }
  // Skipped when the key cannot be opened.
  if (daemonKey()) {
    auto yes = [](QCheckBox* b) {
      return std::string(b->isChecked() ? "yes" : "no");
    };
    std::vector<std::pair<const char*, std::string>> writes = {
        {"ReapTime", s(reap_->text())},
        {"UPS", yes(ups_)},
        {"Protected", yes(protected_)},
        {"Interop", yes(interop_)}};
    if (interop_->isChecked())
      writes.push_back({"InteropFile", s(interop_file_->text())});
    writes.push_back({"Log", yes(log_)});
    if (log_->isChecked()) writes.push_back({"LogFile", s(log_file_->text())});
    for (const auto& [value, text] : writes) {
      if (std::error_code ec =
              platform::setSettingsValue(daemon::kDaemonKey, value, text)) {
        // Said, not swallowed: the dialog stays open.
        warn(this,
             q("Unable to write the setting " + std::string(value) + " to " +
               platform::settingsStorePath() + ": " + ec.message()));
        return;
      }
    }
  }
  QDialog::accept();
}

// ---- Output ---------------------------------------------------------------

OutputDialog::OutputDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(name(kOutputDialogId));
  setWindowTitle("Talvo Daemon Output");
  auto* group = new QGroupBox("Settings -Trace Information", this);
  auto* group_layout = new QVBoxLayout(group);
  const char* texts[] = {"Silent", "Default", "Maximum"};
  const int ids[] = {kIdSilent, kIdDefault, kIdMaximum};
  for (int i = 0; i < 3; ++i) {
    buttons_[i] = new QRadioButton(texts[i], group);
    buttons_[i]->setObjectName(name(ids[i]));
    group_layout->addWidget(buttons_[i]);
  }
  QDialogButtonBox* buttons = dialogButtons(this, true);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addWidget(buttons);

  // Any other level leaves no button selected.
  const int level = readTraceLevel();
  if (level >= 0 && level <= 2) buttons_[level]->setChecked(true);
}

int OutputDialog::selectedLevel() const {
  for (int i = 0; i < 3; ++i) {
    if (buttons_[i]->isChecked()) return i;
  }
  return -1;
}

void OutputDialog::accept() {
  const int level = selectedLevel();
  const std::string text = std::to_string(level < 0 ? 1 : level);
  if (!daemonKey()) {
    QDialog::accept();  // skipped when the key cannot be opened
    return;
  }
  if (std::error_code ec =
          platform::setSettingsValue(daemon::kDaemonKey, "TraceLevel", text)) {
    warn(this, q("Unable to write the setting TraceLevel to " +
                 platform::settingsStorePath() + ": " + ec.message()));
    return;
  }
  QDialog::accept();
}

// ---- Configuration and About ----------------------------------------------

ConfigurationDialog::ConfigurationDialog(const ConfigurationValues& values,
                                         QWidget* parent)
    : QDialog(parent) {
  setObjectName(name(kConfigurationDialogId));
  setWindowTitle("Talvo Configuration");
  auto* form = new QFormLayout;
  for (const auto& [label, value] : values) {
    auto* shown = new QLabel(q(value), this);
    shown->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(q(label), shown);
  }
  QDialogButtonBox* buttons = dialogButtons(this, false);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(name(kAboutDialogId));
  setWindowTitle("About Talvo Daemon");
  auto* icon = new QLabel(this);
  icon->setObjectName(name(kIconId));
  icon->setPixmap(programIcon().pixmap(48, 48));
  auto* text = new QLabel(
      "Talvo Daemon\nVersion 2.3c\nThe activation daemon of the Talvo "
      "object request broker",
      this);
  QDialogButtonBox* buttons = dialogButtons(this, false);
  auto* row = new QHBoxLayout;
  row->addWidget(icon, 0, Qt::AlignTop);
  row->addWidget(text, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(buttons);
}

}  // namespace talvo::window
