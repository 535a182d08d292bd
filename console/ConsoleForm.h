#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <array>
#include <deque>
#include <functional>

#include "DeviceListFile.h"
#include "SerialSettingsDialog.h"
#include "WalkRows.h"
#include "common/ProgressSink.h"
#include "devices/DeviceJobs.h"
#include "devices/DeviceList.h"
#include "image/FirmwareFile.h"

class QCheckBox;
class QDialog;
class QGroupBox;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace zandorui {

class DeviceTable;
class JobEventQueue;
class MessageLog;

// The main form: the loaded file, the device list with its buttons, the check and update walks
// with their progress, status and unit rows, the overrides and the advanced buttons. Device work
// runs on the job facade's workers; the form applies their events on the user-interface thread
// and never waits on a device.
class ConsoleForm : public QWidget, private vel::ProgressSink {
  Q_OBJECT
 public:
  // `listFolder` holds the device list file (the current folder at start).
  explicit ConsoleForm(const QString& listFolder, QWidget* parent = nullptr);
  ~ConsoleForm() override;

  // Loads a firmware file for the walks; false (after telling the operator why) when it cannot.
  bool LoadFile(const QString& path);
  // Asks for a file and loads it.
  void OpenFile();

  bool DeviceWorkRunning() const;
  // A walk that writes to devices runs (an update, the 64 KiB update, the unformatted send).
  bool UpdateRunning() const { return DeviceWorkRunning() && runningKind_ != vel::JobKind::kCheck; }
  MessageLog& Log() { return *log_; }
  vel::DeviceList& List() { return list_; }
  const QString& ListPath() const { return listFile_->Path(); }
  DeviceListFile& ListFile() { return *listFile_; }
  bool HasUnsavedListEdits() const { return listFile_->HasUnsavedEdits(); }
  // Saves the list, merged with what other programs wrote to its file (finished on a worker).
  void SaveDeviceList();
  const SerialChoices& Serial() const { return serial_; }
  bool SerialNumberOptional() const { return serialNumberOptional_; }
  bool AdvancedFunctions() const { return advancedFunctions_; }
  bool AdvancedSettings() const { return advancedSettings_; }
  bool ToolTipsEnabled() const { return toolTipsEnabled_; }

  // The overrides and menu commands, as their keys and the context menu run them.
  void ToggleSerialNumberOverride();
  void ToggleAdvancedFunctionsOverride();
  void ToggleAdvancedSettings();
  void ToggleToolTips();
  void ShowLog();
  void OpenSerialSettings();
  // The COM port mapping alone, reachable without the override.
  void OpenComPorts();
  void CancelDeviceWork();
  void SetRowsAtOnce(int rows);
  // The advanced file buttons: the checksum test, the record view and the memory view.
  void TestLoadedFile();
  void OpenRecordView();
  void OpenMemoryView();
  // The record and memory views open now (a load closes them all).
  std::vector<QPointer<QDialog>> OpenViews() const { return views_; }

  // Recent files for the context menu; set by the main window.
  void SetRecentFiles(QStringList files) { recentFiles_ = std::move(files); }

 signals:
  void FileLoaded(const QString& path);
  void PortActiveChanged(bool active);
  void StatusBarToggled();
  void HelpRequested();
  void AboutRequested();

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  // Building.
  QPushButton* Button(int id, const QString& text);
  QLabel* Label(int id, const QString& text, bool bold = false);
  void BuildLayout();
  void ApplyToolTips();

  // The device list buttons.
  void AddDevice();
  void DeleteCheckedDevices();
  void SetAllChecked(bool checked);
  void LoadDeviceList();
  // A load while devices are worked on is refused, with a message; true then.
  bool LoadingRefused(const QString& path);
  void EditSerialSettings(bool mappingOnly);
  void ListSaved(bool ok, const QString& error);
  void MergeListFromDisk();

  // Device work.
  void StartWalk(vel::JobKind kind);
  void ApplyEvent(vel::JobEvent& event);
  void FinishRow(const vel::JobEvent& event);
  void FinishWalk(const vel::JobEvent& event);
  // The panel (caption, unit rows, status line, progress) shows the walk's panel row.
  void ShowPanel();
  void ResetPanel();
  void ShowRowStatus(std::size_t row);
  void HideDeviceInfo();
  void EnableWorkButtons(bool enable);
  void AnswerQuestion(std::size_t row, const std::shared_ptr<vel::JobQuestion>& question);
  void ConfirmDevice(std::size_t row, vel::JobQuestion& question);
  // The title of a box about one row: the window's, then the device it is about.
  QString RowTitle(std::size_t row) const;
  QString RowLabel(std::size_t row) const;

  // Dialogs opened for events wait until the current batch is applied, one at a time.
  void ShowLater(std::function<void()> dialog);
  void ShowNextDialog();
  void Message(const QString& text);
  void Message(const QString& title, const QString& text);
  // An override's Yes/No question with its warning; true for Yes.
  bool AskToActivate(const QString& question);

  // Progress of a file load on this thread.
  bool BeginProgress(int low, int high, const std::string& text, int step) override;
  bool SetStatus(const std::string& text) override;
  bool SetProgress(int position, const std::string& text) override;
  bool EndProgress() override;
  bool CancelRequested() const override { return false; }
  void ShowStatusText(const std::string& text, bool active);
  void RepaintProgress();
  void CloseViews();

  vel::DeviceList list_;
  vel::FirmwareFile file_;
  QString filePath_;
  SerialChoices serial_;
  bool serialNumberOptional_ = false;
  bool advancedFunctions_ = false;
  bool advancedSettings_ = false;
  bool toolTipsEnabled_ = true;
  int rowsAtOnce_ = 1;
  QStringList recentFiles_;

  MessageLog* log_;
  DeviceListFile* listFile_;
  bool listMergePending_ = false;
  DeviceTable* table_ = nullptr;
  QPushButton* loadButton_ = nullptr;
  QPushButton* saveButton_ = nullptr;
  QLabel* fileName_ = nullptr;
  QPushButton* checkButton_ = nullptr;
  QPushButton* sendButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  QGroupBox* updateStatus_ = nullptr;
  QGroupBox* statusLine_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QSpinBox* rowsAtOnceBox_ = nullptr;
  std::array<QLabel*, 4> unitNames_{};
  std::array<QLabel*, 4> unitVersions_{};
  std::array<QCheckBox*, 4> unitDone_{};
  std::vector<QPushButton*> advancedButtons_;
  QPushButton* advancedSettingsButton_ = nullptr;
  std::vector<QPushButton*> fileWorkButtons_;
  std::vector<QPushButton*> viewButtons_;
  std::vector<QPointer<QDialog>> views_;

  // Progress of a file operation (device work shows its own through events).
  bool loadProgressActive_ = false;
  int loadStep_ = 1;
  QElapsedTimer repaintClock_;

  // The running walk.
  vel::JobKind runningKind_ = vel::JobKind::kUpdate;
  bool walkRunning_ = false;
  bool walkCancelled_ = false;
  WalkRows walk_;
  std::deque<std::function<void()>> dialogs_;
  bool dialogShowing_ = false;
  int confirmationsOpen_ = 0;  // version windows of update runs, opened beside the queue

  // Declared last: destroyed first, so that no worker publishes into a queue that is gone.
  JobEventQueue* queue_;
  std::unique_ptr<vel::DeviceJobs> jobs_;
};

}  // namespace zandorui
