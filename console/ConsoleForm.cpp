#include "ConsoleForm.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <map>

#include "../views/MemoryView.h"
#include "../views/MessageLog.h"
#include "../views/RecordView.h"
#include "../widgets/AppStyle.h"
#include "../widgets/ToolTips.h"
#include "DeviceListModel.h"
#include "DeviceTable.h"
#include "OperatorBoxes.h"
#include "PortMapText.h"
#include "SessionRecordSetting.h"
#include "common/SameFile.h"
#include "common/Strings.h"
#include "common/Version.h"
#include "devices/DeviceWalks.h"
#include "devices/KeyMask.h"
#include "families/DeviceTypes.h"
#include "image/HexFileLoader.h"

namespace zandorui {

namespace {
constexpr qint64 kRepaintMs = 33;
constexpr int kMergeRetryMs = 500;
const QString kRowsAtOnceKey = QStringLiteral("rowsAtOnce");
const QString kCanaryRowsKey = QStringLiteral("canaryRows");
const QString kStopOnFailureKey = QStringLiteral("stopOnFailure");
const QString kReportFilter =
    QStringLiteral("JSON reports (*.json);;CSV reports (*.csv);;All files (*)");
const QString kUpgradeStatus = QStringLiteral(" : <Upgrade Status>");
const QString kHexFileFilter = QStringLiteral("Hex files (*.hex);;All files (*)");
}  // namespace

ConsoleForm::ConsoleForm(const QString& listFolder, QWidget* parent)
    : QWidget(parent),
      rows_(new DeviceListModel(this)),
      log_(new MessageLog(this)),
      listFile_(new DeviceListFile(
          QDir(listFolder).filePath(QString::fromLatin1(vel::kDeviceListFileName)), *rows_, this)),
      overrides_(new ConsoleOverrides(*this)),
      walks_(new WalkController(*rows_, this)),
      boxes_(new OperatorBoxes(*this, *walks_, *log_)) {
  setObjectName(QStringLiteral("consoleForm"));
  log_->setWindowFlag(Qt::Window);
  const QSettings settings;
  rowsAtOnce_ = std::clamp(settings.value(kRowsAtOnceKey, 1).toInt(), 1, kMaxRowsAtOnce);
  canaryRows_ = std::clamp(settings.value(kCanaryRowsKey, 0).toInt(), 0, kMaxRowsAtOnce);
  stopOnFailure_ = settings.value(kStopOnFailureKey, false).toBool();
  BuildLayout();
  WireOverrides();
  WireWalks();
  ApplyToolTips();
  LoadDeviceList();
  connect(listFile_, &DeviceListFile::Saved, this, &ConsoleForm::ListSaved);
  connect(listFile_, &DeviceListFile::ChangedOnDisk, this, &ConsoleForm::MergeListFromDisk);
  table_->setFocus();

  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, [this] {
    if (cancelButton_->isVisible()) cancelButton_->click();
  });
  auto* open = new QShortcut(QKeySequence::Open, this);
  connect(open, &QShortcut::activated, this, &ConsoleForm::OpenFile);
}

// The walks end (their workers stopped) before the list they show goes.
ConsoleForm::~ConsoleForm() {
  delete boxes_;
  delete walks_;
}

// --- The device list ---------------------------------------------------------------------------

void ConsoleForm::LoadDeviceList() {
  QString why;
  QStringList notes;
  if (!listFile_->Load(&why, &notes)) {
    const QString text = QStringLiteral("The device list %1 was not read: %2. It is left as it is.")
                             .arg(listFile_->Path(), why);
    log_->AppendMessage(text);
    boxes_->ShowLater([this, text] { Message(text); });
    return;
  }
  if (notes.isEmpty()) return;
  // Told once: such rows are never sent, and the list is not saved over them.
  const QString text =
      QStringLiteral(
          "The device list %1 holds rows that were not read whole. They are not used, "
          "and Save leaves the file as it is until their cells are set or the rows are "
          "deleted:\n%2")
          .arg(listFile_->Path(), notes.join(QLatin1Char('\n')));
  log_->AppendMessage(text);
  boxes_->ShowLater([this, text] { Message(text); });
}

void ConsoleForm::MergeListFromDisk() {
  // Rows keep their places while devices are worked on or a cell is edited: the merge waits.
  if (DeviceWorkRunning() || table_->Editor() != nullptr || listFile_->Saving()) {
    if (!listMergePending_)
      QTimer::singleShot(kMergeRetryMs, this, [this] {
        listMergePending_ = false;
        MergeListFromDisk();
      });
    listMergePending_ = true;
    return;
  }
  QString why;
  if (!listFile_->MergeFromDisk(&why)) {
    log_->AppendMessage(
        QStringLiteral("The device list %1 was not read again: %2").arg(listFile_->Path(), why));
    return;
  }
  log_->AppendMessage(
      QStringLiteral("The device list %1 changed on disk: its rows are merged with this window's.")
          .arg(listFile_->Path()));
  table_->ClearMark();
}

const vel::DeviceList& ConsoleForm::List() const { return rows_->List(); }

void ConsoleForm::AddDevice() { rows_->AddDevice(); }

void ConsoleForm::DeleteCheckedDevices() {
  if (DeviceWorkRunning()) {
    Message(QStringLiteral("Rows cannot be deleted while devices are being checked or updated."));
    return;
  }
  rows_->DeleteCheckedRows();
  table_->ClearMark();  // the row last clicked may be gone, or another now in its place
}

void ConsoleForm::SetAllChecked(bool checked) { rows_->SetAllChecked(checked); }

void ConsoleForm::SaveDeviceList() {
  saveButton_->setEnabled(false);
  listFile_->Save();
}

void ConsoleForm::ListSaved(bool ok, const QString& error) {
  saveButton_->setEnabled(true);
  if (!ok) {
    Message(
        QStringLiteral("The device list was not saved to %1: %2").arg(listFile_->Path(), error));
  }
}

// --- The loaded file ---------------------------------------------------------------------------

bool ConsoleForm::LoadingRefused(const QString& path) {
  // Every row of a walk reads the file it started with: a file loaded meanwhile would be named
  // in the window without ever being sent.
  if (!DeviceWorkRunning()) return false;
  Message(QStringLiteral("The firmware file is not changed while devices are being checked or "
                         "updated. Load %1 when the work has ended.")
              .arg(path.isEmpty() ? QStringLiteral("it") : QFileInfo(path).fileName()));
  return true;
}

void ConsoleForm::OpenFile() {
  if (LoadingRefused(QString())) return;
  const QString path =
      QFileDialog::getOpenFileName(this, QStringLiteral("Open"), QString(), kHexFileFilter);
  if (!path.isEmpty()) LoadFile(path);
}

bool ConsoleForm::LoadFile(const QString& path) {
  if (LoadingRefused(path)) return false;
  CloseViews();  // they show the file that is about to go
  const vel::LoadResult result = vel::HexFileLoader(file_, this).LoadPath(path.toStdString());
  if (loadProgressActive_) EndProgress();
  if (!result.ok()) {
    const QString why = result.status == vel::LoadStatus::kCannotOpen
                            ? QStringLiteral("Cannot open %1: %2").arg(path, Qs(result.detail))
                            : Qs(vel::LoadString(vel::ids::kUnexpectedFileFormat));
    if (!result.detail.empty()) log_->AppendMessage(Qs(result.detail));
    filePath_.clear();
    fileName_->setText(QStringLiteral("<none>"));
    fileName_->setEnabled(false);
    sendButton_->setEnabled(false);
    checkButton_->setEnabled(false);
    for (QPushButton* button : fileWorkButtons_) button->setEnabled(false);
    for (QPushButton* button : viewButtons_) button->setEnabled(false);
    Message(why);
    return false;
  }
  filePath_ = path;
  // Each load starts clean: no outcome of the last file stays in a row or in the panel.
  rows_->ClearOutcomes();
  walks_->Forget();
  ResetPanel();
  fileName_->setText(QFileInfo(path).fileName());
  fileName_->setToolTip(path);
  fileName_->setEnabled(true);
  sendButton_->setText(Qs(vel::DeviceTypeCaption(file_.Info(0).deviceType).caption));
  EnableWorkButtons(!DeviceWorkRunning());
  for (QPushButton* button : viewButtons_) button->setEnabled(true);
  emit FileLoaded(path);
  return true;
}

void ConsoleForm::CloseViews() {
  for (const QPointer<QDialog>& view : views_) delete view.data();
  views_.clear();
}

void ConsoleForm::OpenRecordView() {
  if (!file_.HasFile()) {
    Message(Qs(vel::LoadString(vel::ids::kRecordsNoFile)));
    return;
  }
  auto* view = new RecordView(file_, ToolTipsEnabled(), this);
  views_.push_back(view);
  view->show();
}

void ConsoleForm::OpenMemoryView() {
  if (!file_.HasFile()) {
    Message(Qs(vel::LoadString(vel::ids::kMemMapNoFile)));
    return;
  }
  if (file_.MemMap(0) == nullptr) {
    const bool shown =
        BeginProgress(1, file_.RecordCount(0), vel::LoadString(vel::ids::kCreatingMemMap), 1);
    file_.GetMemMap(0, shown ? this : nullptr);
    if (shown) {
      EndProgress();
      // The line and the log say the map is made, not that it is still being made.
      const QString made =
          QStringLiteral("Memory map created from %1").arg(QFileInfo(filePath_).fileName());
      statusLine_->setTitle(made);
      log_->AppendMessage(made);
    }
  }
  auto* view =
      new MemoryView(*file_.MemMap(0), QFileInfo(filePath_).fileName(), ToolTipsEnabled(), this);
  views_.push_back(view);
  view->show();
}

void ConsoleForm::TestLoadedFile() {
  const vel::HexTestOutcome outcome = file_.TestHexFile(this);
  // A failed test names its first bad record, as the update's refusal does.
  const auto defect = file_.FirstDefect();
  for (int id : vel::HexTestMessageIds(outcome)) {
    QString text = Qs(vel::LoadString(id));
    if (id == vel::ids::kTestFailed && outcome == vel::HexTestOutcome::kFailed && defect) {
      text += QLatin1Char('\n') + Qs(vel::DescribeDefect(*defect));
    }
    Message(text);
  }
}

// --- Device work -------------------------------------------------------------------------------

void ConsoleForm::EnableWorkButtons(bool enable) {
  const bool fileLoaded = !filePath_.isEmpty();
  loadButton_->setEnabled(enable);
  checkButton_->setEnabled(enable && fileLoaded);
  sendButton_->setEnabled(enable && fileLoaded);
  for (QPushButton* button : fileWorkButtons_) button->setEnabled(enable && fileLoaded);
}

void ConsoleForm::SetRowsAtOnce(int rows) {
  rowsAtOnce_ = std::clamp(rows, 1, kMaxRowsAtOnce);
  if (rowsAtOnceBox_->value() != rowsAtOnce_) rowsAtOnceBox_->setValue(rowsAtOnce_);
  QSettings().setValue(kRowsAtOnceKey, rowsAtOnce_);
}

void ConsoleForm::SetCanaryRows(int rows) {
  canaryRows_ = std::clamp(rows, 0, kMaxRowsAtOnce);
  if (canaryRowsBox_->value() != canaryRows_) canaryRowsBox_->setValue(canaryRows_);
  QSettings().setValue(kCanaryRowsKey, canaryRows_);
}

void ConsoleForm::SetStopOnFailure(bool stop) {
  stopOnFailure_ = stop;
  if (stopOnFailureBox_->isChecked() != stop) stopOnFailureBox_->setChecked(stop);
  QSettings().setValue(kStopOnFailureKey, stop);
}

void ConsoleForm::SaveReport() {
  if (!walks_->WalkEnded()) return;
  const QString path =
      QFileDialog::getSaveFileName(this, QStringLiteral("Save Report"), QString(), kReportFilter);
  if (path.isEmpty()) return;
  // A report never goes over what the program reads: the device list or the firmware file.
  const std::string clash = vel::OutputClash({{ListPath().toStdString(), "the device list"},
                                              {filePath_.toStdString(), "the firmware file"}},
                                             {{path.toStdString(), "The report"}});
  const vel::Result written = clash.empty()
                                  ? vel::WriteReport(path.toStdString(), walks_->ReportLines(), {},
                                                     vel::ListKeyMask(List()))
                                  : vel::Result::Failed(clash);
  // Where it went, or which file it did not reach and why: in the log and a box.
  const QString said =
      written ? QStringLiteral("The report was saved to %1.").arg(path)
              : QStringLiteral("The report was not saved to %1: %2").arg(path, Qs(written.error()));
  log_->AppendMessage(said);
  Message(said);
}

void ConsoleForm::TickFailedRows() {
  if (DeviceWorkRunning() || !walks_->WalkEnded()) return;
  rows_->TickOnly(walks_->RowsToRetry());
}

void ConsoleForm::StartWalk(vel::JobKind kind) {
  if (DeviceWorkRunning()) return;
  if (filePath_.isEmpty() && kind != vel::JobKind::kCheck) {
    Message(QString::fromLatin1(vel::kLoadHexFileFirst));
    return;
  }
  QString why;
  const std::optional<QString> recordFolder = sessionRecords_->FolderForAWalk(&why);
  if (!recordFolder) {
    Message(why);
    return;
  }
  vel::JobOptions options;
  options.kind = kind;
  options.recordFolder = recordFolder->toStdString();
  options.firmwarePath = filePath_.toStdString();
  options.serial = serial_.settings;
  options.parallel = kind == vel::JobKind::kUpdate ? rowsAtOnce_ : 1;
  // Staging guards what an update writes; a check changes nothing, and the operator wants to
  // hear from every ticked device, so it reads them all.
  const bool writes = kind != vel::JobKind::kCheck;
  options.canary = writes ? canaryRows_ : 0;
  options.stopOnFailure = writes && stopOnFailure_;
  options.serialNumberOptional = SerialNumberOptional();
  options.rowsYield = true;  // the window's thread first
  if (walks_->Start(std::move(options), file_.Digest()) ==
      WalkController::StartResult::kNoRowTicked) {
    Message(QStringLiteral("No device is ticked. Tick the rows of the devices to work on."));
  }
}

void ConsoleForm::WalkStarted() {
  ResetPanel();
  EnableWorkButtons(false);
  saveButton_->setEnabled(false);
  table_->SetRowsLocked(true);
  cancelButton_->show();
  cancelButton_->setEnabled(true);
  emit PortActiveChanged(true);
}

void ConsoleForm::CancelDeviceWork() {
  if (!DeviceWorkRunning()) return;
  walks_->Cancel();
  progress_->setValue(progress_->minimum());
  cancelButton_->setEnabled(false);
}

void ConsoleForm::EndDeviceWork() {
  CancelDeviceWork();
  walks_->RunUntilEnded();
}

void ConsoleForm::WalkFinished(const QString& tally, const QString& successSummary) {
  cancelButton_->hide();
  table_->SetRowsLocked(false);
  EnableWorkButtons(true);
  saveButton_->setEnabled(!listFile_->Saving());
  emit PortActiveChanged(false);
  progress_->setValue(progress_->minimum());
  progress_->setEnabled(false);
  statusLine_->setEnabled(false);
  statusLine_->setTitle(tally);
  if (!successSummary.isEmpty())
    boxes_->ShowLater([this, successSummary] { Message(successSummary); });
}

void ConsoleForm::ResetPanel() {
  HideDeviceInfo();
  updateStatus_->setTitle(kUpdateStatusCaption);
  statusLine_->setTitle(kNoStatusLine);
  progress_->setValue(progress_->minimum());
  progress_->setEnabled(false);
  statusLine_->setEnabled(false);
}

void ConsoleForm::ShowPanel(std::size_t row, const RowView& view) {
  const bool check = walks_->Kind() == vel::JobKind::kCheck;
  if (!check) updateStatus_->setTitle(Qs(List().Row(row).name) + kUpgradeStatus);
  const QString line = view.statusLine.empty() ? kNoStatusLine : Qs(view.statusLine);
  if (statusLine_->title() != line) statusLine_->setTitle(line);
  progress_->setEnabled(view.progressActive);
  statusLine_->setEnabled(view.progressActive);
  if (view.progressActive) {
    if (progress_->minimum() != view.low || progress_->maximum() != view.high) {
      progress_->setRange(view.low, view.high);
    }
    progress_->setValue(view.position);
  } else {
    progress_->setValue(progress_->minimum());
  }
  for (std::size_t u = 0; u < unitNames_.size(); ++u) {
    const auto unit = std::find_if(view.units.begin(), view.units.end(),
                                   [u](const vel::UnitLabel& l) { return l.unit == int(u); });
    const bool shown = unit != view.units.end();
    // Ticked for a unit the row's update programmed, also when another unit failed.
    const bool programmed = std::any_of(
        view.finishedUnits.begin(), view.finishedUnits.end(), [u](const vel::FinishedUnit& f) {
          return f.unit == int(u) && f.outcome == vel::UnitOutcome::kProgrammed;
        });
    if (shown) {
      unitNames_[u]->setText(Qs(unit->name));
      unitVersions_[u]->setText(Qs(unit->firmwareVersion));
    }
    unitNames_[u]->setVisible(shown);
    unitVersions_[u]->setVisible(shown);
    unitDone_[u]->setVisible(shown);
    unitDone_[u]->setChecked(shown && view.finished && programmed);
  }
}

void ConsoleForm::HideDeviceInfo() {
  for (int u = 0; u < 4; ++u) {
    unitNames_[u]->hide();
    unitVersions_[u]->hide();
    unitDone_[u]->setChecked(false);
    unitDone_[u]->hide();
  }
}

void ConsoleForm::Message(const QString& text) { Inform(*this, text); }

// --- Menu commands -----------------------------------------------------------------------------

void ConsoleForm::ShowLog() {
  log_->show();
  log_->raise();
  log_->activateWindow();
}

void ConsoleForm::OpenSerialSettings() { EditSerialSettings(false); }

void ConsoleForm::OpenComPorts() { EditSerialSettings(true); }

void ConsoleForm::EditSerialSettings(bool mappingOnly) {
  const std::string path = vel::PortMapFilePath();
  const PortMapFile file = ReadPortMapFile(path);
  SerialChoices choices = serial_;
  vel::PresetPortOverride(choices.portIndex, choices.settings);
  choices.mapping = vel::PortNameMap::ParseFile(file.text);
  SerialSettingsDialog dialog(choices, vel::ListSerialDevices(), mappingOnly, this);
  if (dialog.exec() != QDialog::Accepted) return;
  if (!mappingOnly) {
    serial_.settings = dialog.Choices().settings;
    serial_.portIndex = dialog.Choices().portIndex;
  }
  // The file is written only when the mapping changed, and never over one it could not read.
  const vel::PortNameMap& mapping = dialog.Choices().mapping;
  if (mapping.Entries() == choices.mapping.Entries()) return;
  const vel::Result saved = file.readable
                                ? vel::SavePortMapText(path, UpdatedPortMapText(file.text, mapping))
                                : vel::Result::Failed(file.error);
  if (!saved) {
    Message(QStringLiteral("The COM port mapping was not saved: %1").arg(Qs(saved.error())));
  }
}

void ConsoleForm::contextMenuEvent(QContextMenuEvent* event) {
  // The menu belongs to the form's background: a right click on a control, a label or the
  // Menu key asks for nothing here.
  QWidget* under = childAt(event->pos());
  if (event->reason() != QContextMenuEvent::Mouse ||
      (under != nullptr && qobject_cast<QGroupBox*>(under) == nullptr)) {
    event->ignore();
    return;
  }
  overrides_->ExecMenu(event->globalPos(), loadButton_->isEnabled(), walks_->WalkEnded());
}

// --- Progress of a file load -------------------------------------------------------------------

bool ConsoleForm::BeginProgress(int low, int high, const std::string& text, int step) {
  if (loadProgressActive_ || DeviceWorkRunning()) return false;
  loadProgressActive_ = true;
  loadStep_ = step;
  repaintClock_.invalidate();
  progress_->setEnabled(true);
  statusLine_->setEnabled(true);
  progress_->setRange(low, std::max(low, high));
  progress_->setValue(low);
  statusLine_->setTitle(Qs(text));
  log_->AppendMessage(Qs(text));
  return true;
}

void ConsoleForm::ShowStatusText(const std::string& text, bool active) {
  if (text.empty()) return;
  statusLine_->setTitle(Qs(text));
  log_->AppendMessage(active ? Qs(text) : Qs(vel::text::kInactiveMessage) + Qs(text));
}

bool ConsoleForm::SetStatus(const std::string& text) {
  if (loadProgressActive_) progress_->setValue(progress_->value() + loadStep_);
  ShowStatusText(text, loadProgressActive_);
  RepaintProgress();
  return loadProgressActive_;
}

bool ConsoleForm::SetProgress(int position, const std::string& text) {
  if (loadProgressActive_) progress_->setValue(position);
  ShowStatusText(text, loadProgressActive_);
  RepaintProgress();
  return loadProgressActive_;
}

void ConsoleForm::RepaintProgress() {
  // A file operation runs on this thread: the bar is painted about 30 times a second.
  if (!loadProgressActive_ || (repaintClock_.isValid() && repaintClock_.elapsed() < kRepaintMs)) {
    return;
  }
  repaintClock_.start();
  progress_->repaint();
  statusLine_->repaint();
}

bool ConsoleForm::EndProgress() {
  if (!loadProgressActive_) return false;
  loadProgressActive_ = false;
  progress_->setValue(progress_->minimum());
  progress_->setEnabled(false);
  statusLine_->setEnabled(false);
  return true;
}

}  // namespace zandorui
