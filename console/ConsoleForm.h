#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <array>

#include "ConsoleOverrides.h"
#include "DeviceListFile.h"
#include "DeviceListModel.h"
#include "SerialSettingsDialog.h"
#include "WalkController.h"
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
class MessageLog;
class OperatorBoxes;
class SessionRecordSetting;

// The main form: the loaded file, the device list with its buttons, the check and update walks
// with their progress, status and unit rows, and the advanced buttons. It lays them out and wires
// them to the parts that do the work: the walk controller runs the walks and tells the form what
// to show, the operator boxes answer the walks' messages and questions, the overrides keep the
// override switches and the context menu.
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

  bool DeviceWorkRunning() const { return walks_->Running(); }
  // A walk that writes to devices runs (an update, the 64 KiB update, the unformatted send).
  bool UpdateRunning() const {
    return DeviceWorkRunning() && walks_->Kind() != vel::JobKind::kCheck;
  }
  MessageLog& Log() { return *log_; }
  // The device list, read-only: every change goes through its model.
  const vel::DeviceList& List() const;
  DeviceListModel& ListModel() { return *rows_; }
  const QString& ListPath() const { return listFile_->Path(); }
  DeviceListFile& ListFile() { return *listFile_; }
  bool HasUnsavedListEdits() const { return listFile_->HasUnsavedEdits(); }
  // Saves the list, merged with what other programs wrote to its file (finished on a worker).
  void SaveDeviceList();
  const SerialChoices& Serial() const { return serial_; }
  bool SerialNumberOptional() const { return overrides_->SerialNumberOptional(); }
  bool AdvancedFunctions() const { return overrides_->AdvancedFunctions(); }
  bool AdvancedSettings() const { return overrides_->AdvancedSettings(); }
  bool ToolTipsEnabled() const { return overrides_->ToolTipsEnabled(); }

  // The overrides and menu commands, as their keys and the context menu run them.
  void ToggleSerialNumberOverride() { overrides_->ToggleSerialNumberOverride(); }
  void ToggleAdvancedFunctionsOverride() { overrides_->ToggleAdvancedFunctionsOverride(); }
  void ToggleAdvancedSettings() { overrides_->ToggleAdvancedSettings(); }
  void ToggleToolTips() { overrides_->ToggleToolTips(); }
  void ShowLog();
  void OpenSerialSettings();
  // The COM port mapping alone, reachable without the override.
  void OpenComPorts();
  void CancelDeviceWork();
  // Cancels the device work and returns once its rows have ended, their outcomes in the list,
  // the log and the walk's report (the window's close).
  void EndDeviceWork();
  void SetRowsAtOnce(int rows);
  // A staged walk: the first `rows` ticked rows go one at a time before the others (0: none).
  void SetCanaryRows(int rows);
  void SetStopOnFailure(bool stop);
  // Asks for a file name and writes the last walk's report to it (CSV for a ".csv" name).
  void SaveReport();
  // Ticks the rows that the last walk did not bring to success, and only those.
  void TickFailedRows();
  // The advanced file buttons: the checksum test, the record view and the memory view.
  void TestLoadedFile();
  void OpenRecordView();
  void OpenMemoryView();
  // The record and memory views open now (a load closes them all).
  std::vector<QPointer<QDialog>> OpenViews() const { return views_; }

  // Recent files for the context menu; set by the main window.
  void SetRecentFiles(QStringList files) { overrides_->SetRecentFiles(std::move(files)); }

 signals:
  void FileLoaded(const QString& path);
  void PortActiveChanged(bool active);
  void StatusBarToggled();
  void HelpRequested();
  void AboutRequested();

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  // What both the layout and the handlers use: the row threads' upper bound, and the status
  // line's empty text and caption.
  static constexpr int kMaxRowsAtOnce = 256;
  static inline const QString kNoStatusLine = QStringLiteral(" ");
  static inline const QString kUpdateStatusCaption = QStringLiteral("Update Status");

  // Building.
  QPushButton* Button(int id, const QString& text);
  QLabel* Label(int id, const QString& text, bool bold = false);
  void BuildLayout();
  void WireOverrides();
  void WireWalks();
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
  void WalkStarted();
  void WalkFinished(const QString& tally, const QString& successSummary);
  // The panel (caption, unit rows, status line, progress) shows the walk's panel row.
  void ShowPanel(std::size_t row, const RowView& view);
  void ResetPanel();
  void HideDeviceInfo();
  void EnableWorkButtons(bool enable);
  void ShowAdvancedButtons(bool shown);

  void Message(const QString& text);

  // Progress of a file load on this thread.
  bool BeginProgress(int low, int high, const std::string& text, int step) override;
  bool SetStatus(const std::string& text) override;
  bool SetProgress(int position, const std::string& text) override;
  bool EndProgress() override;
  bool CancelRequested() const override { return false; }
  void ShowStatusText(const std::string& text, bool active);
  void RepaintProgress();
  void CloseViews();

  DeviceListModel* rows_;  // the device list's only writer
  vel::FirmwareFile file_;
  QString filePath_;
  SerialChoices serial_;
  int rowsAtOnce_ = 1;
  int canaryRows_ = 0;
  bool stopOnFailure_ = false;

  MessageLog* log_;
  DeviceListFile* listFile_;
  ConsoleOverrides* overrides_;
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
  QSpinBox* canaryRowsBox_ = nullptr;
  QCheckBox* stopOnFailureBox_ = nullptr;
  SessionRecordSetting* sessionRecords_ = nullptr;
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

  WalkController* walks_;
  OperatorBoxes* boxes_;
};

}  // namespace zandorui
