#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QPoint;
class QWidget;

namespace zandorui {

// The form's overrides and its context menu. Override 01 (Ctrl+Alt+Shift+S) makes the serial
// number optional, override 02 (Ctrl+Alt+Shift+A) shows the advanced buttons; each asks before
// it turns on, with a warning, and says when it turns off. The menu offers the advanced
// settings switch, the tool tip switch and the form's commands (the last walk's report and retry
// among them), which it passes on as signals.
class ConsoleOverrides : public QObject {
  Q_OBJECT
 public:
  // Installs the override keys on `form`.
  explicit ConsoleOverrides(QWidget& form);

  bool SerialNumberOptional() const { return serialNumberOptional_; }
  bool AdvancedFunctions() const { return advancedFunctions_; }
  bool AdvancedSettings() const { return advancedSettings_; }
  bool ToolTipsEnabled() const { return toolTipsEnabled_; }

  void ToggleSerialNumberOverride();
  void ToggleAdvancedFunctionsOverride();
  void ToggleAdvancedSettings();
  void ToggleToolTips();

  void SetRecentFiles(QStringList files) { recentFiles_ = std::move(files); }
  // Opens the context menu at `globalPos`; `fileLoadable` enables Open and the recent files,
  // `walkEnded` the last walk's report and retry.
  void ExecMenu(const QPoint& globalPos, bool fileLoadable, bool walkEnded);

 signals:
  void AdvancedFunctionsChanged(bool available);
  void AdvancedSettingsChanged(bool allowed);
  void ToolTipsChanged(bool enabled);
  void HelpRequested();
  void StatusBarToggled();
  void OpenRequested();
  void RecentFileChosen(const QString& path);
  void LogRequested();
  void ComPortsRequested();
  void SaveReportRequested();
  void RetryFailedRequested();
  void AboutRequested();

 private:
  // An override's Yes/No question with its warning; true for Yes.
  bool AskToActivate(const QString& question);

  QWidget& form_;
  bool serialNumberOptional_ = false;
  bool advancedFunctions_ = false;
  bool advancedSettings_ = false;
  bool toolTipsEnabled_ = true;
  QStringList recentFiles_;
};

}  // namespace zandorui
