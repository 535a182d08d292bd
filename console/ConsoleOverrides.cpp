#include "ConsoleOverrides.h"

#include <QMenu>
#include <QMessageBox>
#include <QShortcut>
#include <QWidget>

#include "OperatorBoxes.h"

namespace zandorui {

ConsoleOverrides::ConsoleOverrides(QWidget& form) : QObject(&form), form_(form) {
  auto* serial = new QShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+Shift+S")), &form_);
  connect(serial, &QShortcut::activated, this, &ConsoleOverrides::ToggleSerialNumberOverride);
  auto* advanced = new QShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+Shift+A")), &form_);
  connect(advanced, &QShortcut::activated, this,
          &ConsoleOverrides::ToggleAdvancedFunctionsOverride);
}

bool ConsoleOverrides::AskToActivate(const QString& question) {
  QMessageBox box(QMessageBox::Critical, form_.window()->windowTitle(),
                  question + QStringLiteral("\n\n WARNING: Do not use unless necessary!"),
                  QMessageBox::Yes | QMessageBox::No, &form_);
  return box.exec() == QMessageBox::Yes;
}

void ConsoleOverrides::ToggleSerialNumberOverride() {
  if (serialNumberOptional_) {
    Inform(form_, QStringLiteral("Override 01 Cancelled: Serial Number Entry Required"));
    serialNumberOptional_ = false;
    return;
  }
  serialNumberOptional_ =
      AskToActivate(QStringLiteral("Activate Override 01: Serial Number Entry Optional?"));
}

void ConsoleOverrides::ToggleAdvancedFunctionsOverride() {
  if (advancedFunctions_) {
    Inform(form_, QStringLiteral("Override 02 Cancelled: Advanced Control Functions Disabled"));
    emit AdvancedFunctionsChanged(false);
    if (advancedSettings_) ToggleAdvancedSettings();
    advancedFunctions_ = false;
    return;
  }
  if (!AskToActivate(
          QStringLiteral("Activate Override 02: Advanced Control Functions Available?"))) {
    return;
  }
  emit AdvancedFunctionsChanged(true);
  advancedFunctions_ = true;
}

void ConsoleOverrides::ToggleAdvancedSettings() {
  advancedSettings_ = !advancedSettings_;
  emit AdvancedSettingsChanged(advancedSettings_);
}

void ConsoleOverrides::ToggleToolTips() {
  toolTipsEnabled_ = !toolTipsEnabled_;
  emit ToolTipsChanged(toolTipsEnabled_);
}

void ConsoleOverrides::ExecMenu(const QPoint& globalPos, bool fileLoadable, bool walkEnded) {
  QMenu menu(&form_);
  menu.setObjectName(QStringLiteral("formMenu"));
  menu.addAction(QStringLiteral("&Help Topics"), this, &ConsoleOverrides::HelpRequested);
  menu.addAction(QStringLiteral("&Toolbar"))->setEnabled(false);
  QAction* statusBar =
      menu.addAction(QStringLiteral("&Status Bar"), this, &ConsoleOverrides::StatusBarToggled);
  statusBar->setCheckable(true);
  const auto* frameStatusBar = form_.window()->findChild<QWidget*>(QStringLiteral("statusBar"));
  statusBar->setChecked(frameStatusBar != nullptr && frameStatusBar->isVisible());
  QAction* open =
      menu.addAction(QStringLiteral("&Open...\tCtrl+O"), this, &ConsoleOverrides::OpenRequested);
  open->setEnabled(fileLoadable);
  QMenu* recent = menu.addMenu(QStringLiteral("Recent &Files"));
  recent->setEnabled(!recentFiles_.isEmpty() && fileLoadable);
  for (int i = 0; i < recentFiles_.size(); ++i) {
    const QString path = recentFiles_[i];
    recent->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(path), this,
                      [this, path] { emit RecentFileChosen(path); });
  }
  menu.addSeparator();
  QAction* advanced = menu.addAction(QStringLiteral("Allow Advanced Settings"), this,
                                     &ConsoleOverrides::ToggleAdvancedSettings);
  advanced->setCheckable(true);
  advanced->setChecked(advancedSettings_);
  advanced->setEnabled(advancedFunctions_);
  QAction* tips =
      menu.addAction(QStringLiteral("Enable ToolTips"), this, &ConsoleOverrides::ToggleToolTips);
  tips->setCheckable(true);
  tips->setChecked(toolTipsEnabled_);
  menu.addAction(QStringLiteral("View Status Log"), this, &ConsoleOverrides::LogRequested);
  menu.addAction(QStringLiteral("COM Ports..."), this, &ConsoleOverrides::ComPortsRequested);
  menu.addAction(QStringLiteral("Enable Hex File Editing"))->setEnabled(false);
  menu.addSeparator();
  menu.addAction(QStringLiteral("Save Report..."), this, &ConsoleOverrides::SaveReportRequested)
      ->setEnabled(walkEnded);
  menu.addAction(QStringLiteral("Retry Failed"), this, &ConsoleOverrides::RetryFailedRequested)
      ->setEnabled(walkEnded && fileLoadable);
  menu.addSeparator();
  menu.addAction(QStringLiteral("&About ZandorUpdate..."), this, &ConsoleOverrides::AboutRequested);
  menu.exec(globalPos);
}

}  // namespace zandorui
