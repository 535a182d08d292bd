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
#include <QMenu>
#include <QMessageBox>
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
#include "DeviceTable.h"
#include "JobEventQueue.h"
#include "PortMapText.h"
#include "VersionDialog.h"
#include "common/Strings.h"
#include "common/Version.h"
#include "devices/DeviceWalks.h"
#include "engine/DeviceTypes.h"
#include "image/HexFileLoader.h"

namespace zandorui {

namespace {

// Unit u's labels are controls 1124 - u (name), 1128 - u (version) and 1132 - u (done).
constexpr int kUnitNameId = 1124;
constexpr int kUnitVersionId = 1128;
constexpr int kUnitDoneId = 1132;
constexpr int kMaxRowsAtOnce = 64;
constexpr qint64 kRepaintMs = 33;
constexpr int kMergeRetryMs = 500;
const QString kRowsAtOnceKey = QStringLiteral("rowsAtOnce");
const QString kUpgradeStatus = QStringLiteral(" : <Upgrade Status>");
const QString kHexFileFilter = QStringLiteral("Hex files (*.hex);;All files (*)");
const QString kNoStatusLine = QStringLiteral(" ");
const QString kUpdateStatusCaption = QStringLiteral("Update Status");
const QString kWaitingForOperator = QStringLiteral("Waiting for the operator ...");
const QString kNotReached = QStringLiteral(" (not reached)");

// A control that appears and disappears keeps its place, so that nothing around it moves.
void KeepPlaceWhenHidden(QWidget* widget) {
  QSizePolicy policy = widget->sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  widget->setSizePolicy(policy);
}

}  // namespace

ConsoleForm::ConsoleForm(const QString& listFolder, QWidget* parent)
    : QWidget(parent),
      log_(new MessageLog(this)),
      listFile_(new DeviceListFile(
          QDir(listFolder).filePath(QString::fromLatin1(vel::kDeviceListFileName)), list_, this)),
      queue_(new JobEventQueue([this](vel::JobEvent& event) { ApplyEvent(event); }, this)),
      jobs_(std::make_unique<vel::DeviceJobs>(*queue_)) {
  setObjectName(QStringLiteral("consoleForm"));
  log_->setWindowFlag(Qt::Window);
  rowsAtOnce_ = std::clamp(QSettings().value(kRowsAtOnceKey, 1).toInt(), 1, kMaxRowsAtOnce);
  BuildLayout();
  ApplyToolTips();
  LoadDeviceList();
  connect(listFile_, &DeviceListFile::Saved, this, &ConsoleForm::ListSaved);
  connect(listFile_, &DeviceListFile::ChangedOnDisk, this, &ConsoleForm::MergeListFromDisk);
  table_->setFocus();

  auto* serialOverride = new QShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+Shift+S")), this);
  connect(serialOverride, &QShortcut::activated, this, &ConsoleForm::ToggleSerialNumberOverride);
  auto* advancedOverride = new QShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+Shift+A")), this);
  connect(advancedOverride, &QShortcut::activated, this,
          &ConsoleForm::ToggleAdvancedFunctionsOverride);
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, [this] {
    if (cancelButton_->isVisible()) cancelButton_->click();
  });
  auto* open = new QShortcut(QKeySequence::Open, this);
  connect(open, &QShortcut::activated, this, &ConsoleForm::OpenFile);
}

ConsoleForm::~ConsoleForm() { jobs_.reset(); }

QPushButton* ConsoleForm::Button(int id, const QString& text) {
  auto* button = new QPushButton(text);
  button->setObjectName(ControlName(id));
  return button;
}

QLabel* ConsoleForm::Label(int id, const QString& text, bool bold) {
  auto* label = new QLabel(text);
  label->setObjectName(ControlName(id));
  if (bold) label->setFont(AppFont(true));
  return label;
}

void ConsoleForm::BuildLayout() {
  auto* layout = new QVBoxLayout(this);

  auto* fileRow = new QHBoxLayout;
  auto* load = Button(1007, QStringLiteral("Load Hex File"));
  loadButton_ = load;
  connect(load, &QPushButton::clicked, this, &ConsoleForm::OpenFile);
  fileName_ = Label(1014, QStringLiteral("<none>"));
  fileName_->setEnabled(false);
  fileName_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  fileRow->addWidget(load);
  fileRow->addWidget(fileName_, 1);
  layout->addLayout(fileRow);

  table_ = new DeviceTable(list_);
  table_->setMinimumSize(740, 160);
  layout->addWidget(table_, 1);

  auto* listButtons = new QHBoxLayout;
  const std::array<std::pair<int, const char*>, 5> listActions{{{1117, "New"},
                                                                {1150, "Delete"},
                                                                {1118, "Select All"},
                                                                {1119, "Deselect All"},
                                                                {1120, "Save"}}};
  std::map<int, QPushButton*> listButton;
  for (const auto& [id, text] : listActions) {
    listButton[id] = Button(id, QString::fromLatin1(text));
    listButtons->addWidget(listButton[id]);
  }
  listButtons->addStretch();
  connect(listButton[1117], &QPushButton::clicked, this, &ConsoleForm::AddDevice);
  connect(listButton[1150], &QPushButton::clicked, this, &ConsoleForm::DeleteCheckedDevices);
  connect(listButton[1118], &QPushButton::clicked, this, [this] { SetAllChecked(true); });
  connect(listButton[1119], &QPushButton::clicked, this, [this] { SetAllChecked(false); });
  connect(listButton[1120], &QPushButton::clicked, this, &ConsoleForm::SaveDeviceList);
  saveButton_ = listButton[1120];
  layout->addLayout(listButtons);

  auto* workRow = new QHBoxLayout;
  checkButton_ = Button(1038, QStringLiteral("Check Device Information"));
  checkButton_->setEnabled(false);
  connect(checkButton_, &QPushButton::clicked, this, [this] { StartWalk(vel::JobKind::kCheck); });
  sendButton_ = Button(1034, QStringLiteral("Send To Zandor"));
  sendButton_->setEnabled(false);
  connect(sendButton_, &QPushButton::clicked, this, [this] { StartWalk(vel::JobKind::kUpdate); });
  cancelButton_ = Button(1013, QStringLiteral("Cancel"));
  KeepPlaceWhenHidden(cancelButton_);
  cancelButton_->hide();
  connect(cancelButton_, &QPushButton::clicked, this, &ConsoleForm::CancelDeviceWork);
  auto* rowsLabel = new QLabel(QStringLiteral("Rows updated at once:"));
  rowsAtOnceBox_ = new QSpinBox;
  rowsAtOnceBox_->setObjectName(QStringLiteral("rowsAtOnce"));
  rowsAtOnceBox_->setRange(1, kMaxRowsAtOnce);
  rowsAtOnceBox_->setValue(rowsAtOnce_);
  rowsLabel->setBuddy(rowsAtOnceBox_);
  connect(rowsAtOnceBox_, &QSpinBox::valueChanged, this, &ConsoleForm::SetRowsAtOnce);
  workRow->addWidget(checkButton_);
  workRow->addWidget(sendButton_);
  workRow->addWidget(cancelButton_);
  workRow->addStretch();
  workRow->addWidget(rowsLabel);
  workRow->addWidget(rowsAtOnceBox_);
  layout->addLayout(workRow);

  updateStatus_ = new QGroupBox(kUpdateStatusCaption);
  updateStatus_->setObjectName(ControlName(1133));
  auto* units = new QGridLayout(updateStatus_);
  units->addWidget(Label(1134, QStringLiteral("Device Information"), true), 0, 0);
  units->addWidget(Label(1147, QStringLiteral("Firmware Ver"), true), 0, 1);
  units->addWidget(Label(1136, QStringLiteral("Upgrade Success"), true), 0, 2);
  for (int u = 0; u < 4; ++u) {
    unitNames_[u] = Label(kUnitNameId - u, Qs(vel::text::kUnknown));
    unitVersions_[u] = Label(kUnitVersionId - u, Qs(vel::text::kUnknown));
    unitDone_[u] = new QCheckBox;
    unitDone_[u]->setObjectName(ControlName(kUnitDoneId - u));
    unitDone_[u]->setEnabled(false);
    for (QWidget* widget :
         {static_cast<QWidget*>(unitNames_[u]), static_cast<QWidget*>(unitVersions_[u]),
          static_cast<QWidget*>(unitDone_[u])}) {
      KeepPlaceWhenHidden(widget);
    }
    units->addWidget(unitNames_[u], u + 1, 0);
    units->addWidget(unitVersions_[u], u + 1, 1);
    units->addWidget(unitDone_[u], u + 1, 2);
  }
  units->setColumnStretch(0, 2);
  units->setColumnStretch(1, 1);
  units->setRowMinimumHeight(4, fontMetrics().height() + 4);
  HideDeviceInfo();
  layout->addWidget(updateStatus_);

  // A caption of its own from the start: a group box without one is lower, and the buttons
  // below would move when the first status line arrives.
  statusLine_ = new QGroupBox(kNoStatusLine);
  statusLine_->setObjectName(ControlName(1011));
  statusLine_->setEnabled(false);
  auto* statusLayout = new QVBoxLayout(statusLine_);
  progress_ = new QProgressBar;
  progress_->setObjectName(ControlName(1012));
  progress_->setEnabled(false);
  progress_->setValue(0);
  statusLayout->addWidget(progress_);
  layout->addWidget(statusLine_);

  auto* advancedRow = new QHBoxLayout;
  const std::array<std::pair<int, const char*>, 7> advanced{{{1032, "Update Vantrel II(VLS, VLX)"},
                                                             {1033, "Update Zandor Matrix"},
                                                             {1035, "Send unformatted VelHex file"},
                                                             {1004, "Test Hex File"},
                                                             {1005, "View Records"},
                                                             {1006, "View Memory"},
                                                             {1002, "Advanced..."}}};
  std::map<int, QPushButton*> byId;
  for (const auto& [id, text] : advanced) {
    QPushButton* button = Button(id, QString::fromLatin1(text));
    button->setEnabled(false);
    button->hide();
    advancedButtons_.push_back(button);
    advancedRow->addWidget(button);
    byId[id] = button;
  }
  advancedRow->addStretch();
  advancedSettingsButton_ = byId[1002];
  // The update buttons and the file test follow the loaded file and the walks; the views follow
  // the loaded file only.
  fileWorkButtons_ = {byId[1032], byId[1033], byId[1035], byId[1004]};
  viewButtons_ = {byId[1005], byId[1006]};
  connect(byId[1032], &QPushButton::clicked, this,
          [this] { StartWalk(vel::JobKind::kVantrelUpdate); });
  connect(byId[1033], &QPushButton::clicked, this,
          [this] { Message(Qs(vel::text::kModeNotSupported)); });
  connect(byId[1035], &QPushButton::clicked, this,
          [this] { StartWalk(vel::JobKind::kSendUnformatted); });
  connect(byId[1004], &QPushButton::clicked, this, &ConsoleForm::TestLoadedFile);
  connect(byId[1005], &QPushButton::clicked, this, &ConsoleForm::OpenRecordView);
  connect(byId[1006], &QPushButton::clicked, this, &ConsoleForm::OpenMemoryView);
  connect(advancedSettingsButton_, &QPushButton::clicked, this, &ConsoleForm::OpenSerialSettings);
  layout->addLayout(advancedRow);

  layout->addWidget(Label(1149, Qs(vel::VersionLine())));
}

void ConsoleForm::ApplyToolTips() {
  SetToolTips(*this, toolTipsEnabled_);  // the open record and memory views are its children
}

// --- The device list ---------------------------------------------------------------------------

void ConsoleForm::LoadDeviceList() {
  QString why;
  if (!listFile_->Load(&why)) {
    const QString text = QStringLiteral("The device list %1 was not read: %2. It is left as it is.")
                             .arg(listFile_->Path(), why);
    log_->AppendMessage(text);
    ShowLater([this, text] { Message(text); });
  }
  table_->ShowList();
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
  table_->ShowList();
}

void ConsoleForm::AddDevice() {
  list_.AddDevice();
  table_->ShowList();
}

void ConsoleForm::DeleteCheckedDevices() {
  if (DeviceWorkRunning()) {
    Message(QStringLiteral("Rows cannot be deleted while devices are being checked or updated."));
    return;
  }
  list_.DeleteCheckedDevices();
  table_->ClearMark();  // the row last clicked may be gone, or another now in its place
  table_->ShowList();
}

void ConsoleForm::SetAllChecked(bool checked) {
  if (checked) {
    list_.CheckAllDevices();
  } else {
    list_.UncheckAllDevices();
  }
  table_->ShowList();
}

void ConsoleForm::SaveDeviceList() {
  saveButton_->setEnabled(false);
  listFile_->Save();
}

void ConsoleForm::ListSaved(bool ok, const QString& error) {
  saveButton_->setEnabled(true);
  table_->ShowList();
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
  for (std::size_t r = 0; r < list_.Count(); ++r) list_.SetOutcome(r, {}, false);
  table_->ShowList();
  walk_ = WalkRows();
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
  auto* view = new RecordView(file_, toolTipsEnabled_, this);
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
    if (shown) EndProgress();
  }
  auto* view =
      new MemoryView(*file_.MemMap(0), QFileInfo(filePath_).fileName(), toolTipsEnabled_, this);
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

bool ConsoleForm::DeviceWorkRunning() const { return walkRunning_; }

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

void ConsoleForm::StartWalk(vel::JobKind kind) {
  if (DeviceWorkRunning()) return;
  if (filePath_.isEmpty() && kind != vel::JobKind::kCheck) {
    Message(QString::fromLatin1(vel::kLoadHexFileFirst));
    return;
  }
  std::vector<vel::JobRow> rows;
  std::vector<std::size_t> indices;
  for (std::size_t r = 0; r < list_.Count(); ++r) {
    const vel::DeviceEntry& entry = list_.Row(r);
    if (!entry.checked) continue;
    vel::JobRow row = vel::RowOfList(r, entry);
    std::string problem;
    if (!vel::IsUsableRow(entry, &problem)) {  // "70000" is no port, however it would wrap
      row.target.reset();
      row.problem = problem;
    }
    rows.push_back(std::move(row));
    indices.push_back(r);
  }
  if (rows.empty()) {
    Message(QStringLiteral("No device is ticked. Tick the rows of the devices to work on."));
    return;
  }
  vel::JobOptions options;
  options.kind = kind;
  options.firmwarePath = filePath_.toStdString();
  options.serial = serial_.settings;
  options.parallel = kind == vel::JobKind::kUpdate ? rowsAtOnce_ : 1;
  options.serialNumberOptional = serialNumberOptional_;
  options.messagesWait = true;
  options.prepareDocument = prepareDocument_;
  // Each walk starts clean: its rows and the panel keep nothing of the last one.
  walk_ = WalkRows(indices, options.parallel > 1);
  for (std::size_t r : indices) {
    list_.SetOutcome(r, {}, false);
    table_->ShowStatus(r, QString());
  }
  ResetPanel();
  if (!jobs_->Start(std::move(rows), std::move(options))) return;
  runningKind_ = kind;
  walkRunning_ = true;
  walkCancelled_ = false;
  EnableWorkButtons(false);
  saveButton_->setEnabled(false);
  table_->SetRowsLocked(true);
  cancelButton_->show();
  cancelButton_->setEnabled(true);
  emit PortActiveChanged(true);
}

void ConsoleForm::CancelDeviceWork() {
  if (!DeviceWorkRunning()) return;
  // Questions not yet shown are never shown: their workers stop waiting when cancelled.
  walkCancelled_ = true;
  jobs_->CancelAll();
  progress_->setValue(progress_->minimum());
  cancelButton_->setEnabled(false);
}

void ConsoleForm::ApplyEvent(vel::JobEvent& event) {
  using Kind = vel::JobEvent::Kind;
  switch (event.kind) {
    case Kind::kStatusLogged:
    case Kind::kLogLine:
      // Lines of rows worked on side by side interleave: each names its device.
      log_->AppendMessage(walk_.SideBySide() && walk_.Find(event.row) != nullptr
                              ? RowLabel(event.row) + QStringLiteral(": ") + Qs(event.text)
                              : Qs(event.text));
      return;
    case Kind::kMessage: {
      const QString title = RowTitle(event.row);
      const QString text = Qs(event.text);
      ShowLater([this, title, text, question = event.question] {
        Message(title, text);
        if (question) question->Answer(true);  // the worker waited for OK
      });
      return;
    }
    case Kind::kQuestion:
      if (walkCancelled_) {
        event.question->Answer(false);
        return;
      }
      // The version window of an update run confirms itself: it opens at once, also over
      // another device's box, so that a box holding one row never holds the others.
      if (event.question->GetKind() == vel::JobQuestion::Kind::kConfirmDevice &&
          !event.question->Request()->informationOnly) {
        QTimer::singleShot(0, this, [this, row = event.row, question = event.question] {
          // Nothing queued opens over it meanwhile: a box opened on top would keep it from
          // closing until that box is answered.
          ++confirmationsOpen_;
          AnswerQuestion(row, question);
          --confirmationsOpen_;
          if (!dialogs_.empty()) QTimer::singleShot(0, this, &ConsoleForm::ShowNextDialog);
        });
        return;
      }
      // A question behind another device's box says so in its row until it opens.
      if (dialogShowing_ || !dialogs_.empty()) {
        table_->ShowStatus(event.row, kWaitingForOperator);
      }
      ShowLater([this, row = event.row, question = event.question] {
        ShowRowStatus(row);
        AnswerQuestion(row, question);
      });
      return;
    case Kind::kWalkFinished:
      FinishWalk(event);
      return;
    default:
      break;
  }
  if (!walk_.Apply(event)) return;
  if (event.kind == Kind::kRowFinished) FinishRow(event);
  ShowRowStatus(event.row);
  if (walk_.PanelRow() == event.row || event.kind == Kind::kRowFinished) ShowPanel();
}

void ConsoleForm::ShowRowStatus(std::size_t row) {
  if (row >= list_.Count()) return;
  const QString text = Qs(walk_.StatusText(row));
  const RowView* view = walk_.Find(row);
  list_.SetOutcome(row, text.toStdString(), view != nullptr && view->succeeded);
  table_->ShowStatus(row, text);
}

void ConsoleForm::FinishRow(const vel::JobEvent& event) {
  if (event.row >= list_.Count()) return;
  const std::string hint = LinuxHint(list_.Row(event.row), event.outcome);
  if (!hint.empty()) walk_.AddNote(event.row, hint);
  // The log keeps every row's outcome as its Status says it, units left out included.
  log_->AppendMessage(RowLabel(event.row) + QStringLiteral(": ") + Qs(walk_.StatusText(event.row)));
}

void ConsoleForm::FinishWalk(const vel::JobEvent& event) {
  walkRunning_ = false;
  cancelButton_->hide();
  table_->SetRowsLocked(false);
  EnableWorkButtons(true);
  saveButton_->setEnabled(!listFile_->Saving());
  emit PortActiveChanged(false);
  // Rows a cancel kept the walk from reaching say so, as `zandor` does.
  if (event.cancelled) {
    for (std::size_t row : walk_.NotReached()) {
      if (row >= list_.Count()) continue;
      const QString text = Qs(vel::LoadString(vel::ids::kOperationCancelled)) + kNotReached;
      list_.SetOutcome(row, text.toStdString(), false);
      table_->ShowStatus(row, text);
    }
  }
  ShowPanel();
  progress_->setValue(progress_->minimum());
  progress_->setEnabled(false);
  statusLine_->setEnabled(false);
  statusLine_->setTitle(QStringLiteral("%1 of %2 ticked devices succeeded.")
                            .arg(walk_.Succeeded())
                            .arg(walk_.Rows().size()));
  if (runningKind_ == vel::JobKind::kUpdate && event.allSucceeded && !event.cancelled) {
    QString summary = Qs(vel::LoadString(vel::ids::kUpdateSuccessful));
    const auto leftOut = walk_.LeftOutNotes();
    if (!leftOut.empty()) summary += QLatin1Char('\n');
    for (const auto& [row, note] : leftOut) summary += QLatin1Char('\n') + RowLabel(row) + Qs(note);
    ShowLater([this, summary] { Message(summary); });
  }
}

void ConsoleForm::ResetPanel() {
  HideDeviceInfo();
  updateStatus_->setTitle(kUpdateStatusCaption);
  statusLine_->setTitle(kNoStatusLine);
  progress_->setValue(progress_->minimum());
  progress_->setEnabled(false);
  statusLine_->setEnabled(false);
}

void ConsoleForm::ShowPanel() {
  const auto row = walk_.PanelRow();
  const RowView* view = row ? walk_.Find(*row) : nullptr;
  if (view == nullptr || *row >= list_.Count()) return;
  if (runningKind_ != vel::JobKind::kCheck) {
    updateStatus_->setTitle(Qs(list_.Row(*row).name) + kUpgradeStatus);
  }
  const QString line = view->statusLine.empty() ? kNoStatusLine : Qs(view->statusLine);
  if (statusLine_->title() != line) statusLine_->setTitle(line);
  progress_->setEnabled(view->progressActive);
  statusLine_->setEnabled(view->progressActive);
  if (view->progressActive) {
    if (progress_->minimum() != view->low || progress_->maximum() != view->high) {
      progress_->setRange(view->low, view->high);
    }
    progress_->setValue(view->position);
  } else {
    progress_->setValue(progress_->minimum());
  }
  for (std::size_t u = 0; u < unitNames_.size(); ++u) {
    const auto unit = std::find_if(view->units.begin(), view->units.end(),
                                   [u](const vel::UnitLabel& l) { return l.unit == int(u); });
    const bool shown = unit != view->units.end();
    const bool leftOut =
        std::find(view->leftOut.begin(), view->leftOut.end(), int(u)) != view->leftOut.end();
    if (shown) {
      unitNames_[u]->setText(Qs(unit->name));
      unitVersions_[u]->setText(Qs(unit->firmwareVersion));
    }
    unitNames_[u]->setVisible(shown);
    unitVersions_[u]->setVisible(shown);
    unitDone_[u]->setVisible(shown);
    unitDone_[u]->setChecked(shown && view->finished && view->succeeded && !leftOut &&
                             runningKind_ != vel::JobKind::kCheck);
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

QString ConsoleForm::RowLabel(std::size_t row) const {
  return row < list_.Count() ? Qs(DeviceLabel(list_.Row(row), row)) : QString();
}

QString ConsoleForm::RowTitle(std::size_t row) const {
  const QString label = RowLabel(row);
  return label.isEmpty() ? window()->windowTitle()
                         : window()->windowTitle() + QStringLiteral(" - ") + label;
}

void ConsoleForm::AnswerQuestion(std::size_t row,
                                 const std::shared_ptr<vel::JobQuestion>& question) {
  if (walkCancelled_) {
    question->Answer(false);
    return;
  }
  if (question->GetKind() == vel::JobQuestion::Kind::kConfirmDevice) {
    ConfirmDevice(row, *question);
    return;
  }
  const auto answer = QMessageBox::question(this, RowTitle(row), Qs(question->Text()),
                                            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
  question->Answer(answer == QMessageBox::Yes);
}

void ConsoleForm::ConfirmDevice(std::size_t row, vel::JobQuestion& question) {
  VersionDialog dialog(*question.Request(), this);
  dialog.setWindowTitle(dialog.windowTitle() + QStringLiteral(" - ") + RowLabel(row));
  const bool accepted = dialog.exec() == QDialog::Accepted;
  if (accepted && !question.Request()->informationOnly) {
    // A file older than the device is sent all the same; the row and the log say so.
    for (const std::string& downgrade : dialog.Downgrades()) {
      walk_.AddNote(row, downgrade);
      log_->AppendMessage(RowLabel(row) + QStringLiteral(": ") + Qs(downgrade));
    }
  }
  question.Answer(accepted);
}

// --- Dialogs for events ------------------------------------------------------------------------

void ConsoleForm::ShowLater(std::function<void()> dialog) {
  dialogs_.push_back(std::move(dialog));
  if (!dialogShowing_ && dialogs_.size() == 1) {
    QTimer::singleShot(0, this, &ConsoleForm::ShowNextDialog);
  }
}

void ConsoleForm::ShowNextDialog() {
  if (dialogShowing_ || confirmationsOpen_ > 0 || dialogs_.empty()) return;
  dialogShowing_ = true;
  const std::function<void()> dialog = std::move(dialogs_.front());
  dialogs_.pop_front();
  dialog();
  dialogShowing_ = false;
  if (!dialogs_.empty()) QTimer::singleShot(0, this, &ConsoleForm::ShowNextDialog);
}

void ConsoleForm::Message(const QString& text) { Message(window()->windowTitle(), text); }

void ConsoleForm::Message(const QString& title, const QString& text) {
  QMessageBox::information(this, title, text);
}

// --- Overrides and menu commands ---------------------------------------------------------------

void ConsoleForm::ToggleSerialNumberOverride() {
  if (serialNumberOptional_) {
    Message(QStringLiteral("Override 01 Cancelled: Serial Number Entry Required"));
    serialNumberOptional_ = false;
    return;
  }
  serialNumberOptional_ =
      AskToActivate(QStringLiteral("Activate Override 01: Serial Number Entry Optional?"));
}

bool ConsoleForm::AskToActivate(const QString& question) {
  QMessageBox box(QMessageBox::Critical, window()->windowTitle(),
                  question + QStringLiteral("\n\n WARNING: Do not use unless necessary!"),
                  QMessageBox::Yes | QMessageBox::No, this);
  return box.exec() == QMessageBox::Yes;
}

void ConsoleForm::ToggleAdvancedFunctionsOverride() {
  if (advancedFunctions_) {
    Message(QStringLiteral("Override 02 Cancelled: Advanced Control Functions Disabled"));
    for (QPushButton* button : advancedButtons_) button->hide();
    if (advancedSettings_) ToggleAdvancedSettings();
    advancedFunctions_ = false;
    return;
  }
  if (!AskToActivate(
          QStringLiteral("Activate Override 02: Advanced Control Functions Available?"))) {
    return;
  }
  for (QPushButton* button : advancedButtons_) button->show();
  advancedFunctions_ = true;
}

void ConsoleForm::ToggleAdvancedSettings() {
  advancedSettings_ = !advancedSettings_;
  advancedSettingsButton_->setEnabled(advancedSettings_);
}

void ConsoleForm::ToggleToolTips() {
  toolTipsEnabled_ = !toolTipsEnabled_;
  ApplyToolTips();
}

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
  std::string error = file.error;
  if (!file.readable ||
      !vel::SavePortMapText(path, UpdatedPortMapText(file.text, mapping), &error)) {
    Message(QStringLiteral("The COM port mapping was not saved: %1").arg(Qs(error)));
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
  QMenu menu(this);
  menu.setObjectName(QStringLiteral("formMenu"));
  menu.addAction(QStringLiteral("&Help Topics"), this, &ConsoleForm::HelpRequested);
  menu.addAction(QStringLiteral("&Toolbar"))->setEnabled(false);
  QAction* statusBar =
      menu.addAction(QStringLiteral("&Status Bar"), this, &ConsoleForm::StatusBarToggled);
  statusBar->setCheckable(true);
  const auto* frameStatusBar = window()->findChild<QWidget*>(QStringLiteral("statusBar"));
  statusBar->setChecked(frameStatusBar != nullptr && frameStatusBar->isVisible());
  QAction* open = menu.addAction(QStringLiteral("&Open...\tCtrl+O"), this, &ConsoleForm::OpenFile);
  open->setEnabled(loadButton_->isEnabled());
  QMenu* recent = menu.addMenu(QStringLiteral("Recent &Files"));
  recent->setEnabled(!recentFiles_.isEmpty() && loadButton_->isEnabled());
  for (int i = 0; i < recentFiles_.size(); ++i) {
    const QString path = recentFiles_[i];
    recent->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(path), this,
                      [this, path] { LoadFile(path); });
  }
  menu.addSeparator();
  QAction* advanced = menu.addAction(QStringLiteral("Allow Advanced Settings"), this,
                                     &ConsoleForm::ToggleAdvancedSettings);
  advanced->setCheckable(true);
  advanced->setChecked(advancedSettings_);
  advanced->setEnabled(advancedFunctions_);
  QAction* tips =
      menu.addAction(QStringLiteral("Enable ToolTips"), this, &ConsoleForm::ToggleToolTips);
  tips->setCheckable(true);
  tips->setChecked(toolTipsEnabled_);
  menu.addAction(QStringLiteral("View Status Log"), this, &ConsoleForm::ShowLog);
  menu.addAction(QStringLiteral("COM Ports..."), this, &ConsoleForm::OpenComPorts);
  menu.addAction(QStringLiteral("Enable Hex File Editing"))->setEnabled(false);
  menu.addSeparator();
  menu.addAction(QStringLiteral("&About ZandorUpdate..."), this, &ConsoleForm::AboutRequested);
  menu.exec(event->globalPos());
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
