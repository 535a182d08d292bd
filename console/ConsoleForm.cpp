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
#include <map>

#include "../app/AppStyle.h"
#include "../resources/ToolTips.h"
#include "../views/MemoryView.h"
#include "../views/MessageLog.h"
#include "../views/RecordView.h"
#include "DeviceTable.h"
#include "JobEventQueue.h"
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
const QString kRowsAtOnceKey = QStringLiteral("rowsAtOnce");
const QString kUpgradeStatus = QStringLiteral(" : <Upgrade Status>");
const QString kHexFileFilter = QStringLiteral("Hex files (*.hex);;All files (*)");

}  // namespace

ConsoleForm::ConsoleForm(const QString& listFolder, QWidget* parent)
    : QWidget(parent),
      listPath_(QDir(listFolder).filePath(QString::fromLatin1(vel::kDeviceListFileName))),
      log_(new MessageLog(this)),
      queue_(new JobEventQueue([this](vel::JobEvent& event) { ApplyEvent(event); }, this)),
      jobs_(std::make_unique<vel::DeviceJobs>(*queue_)) {
  setObjectName(QStringLiteral("consoleForm"));
  log_->setWindowFlag(Qt::Window);
  rowsAtOnce_ = std::clamp(QSettings().value(kRowsAtOnceKey, 1).toInt(), 1, kMaxRowsAtOnce);
  BuildLayout();
  ApplyToolTips();
  LoadDeviceList();

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
  layout->addLayout(listButtons);

  auto* workRow = new QHBoxLayout;
  checkButton_ = Button(1038, QStringLiteral("Check Device Information"));
  checkButton_->setEnabled(false);
  connect(checkButton_, &QPushButton::clicked, this, [this] { StartWalk(vel::JobKind::kCheck); });
  sendButton_ = Button(1034, QStringLiteral("Send To Zandor"));
  sendButton_->setEnabled(false);
  connect(sendButton_, &QPushButton::clicked, this, [this] { StartWalk(vel::JobKind::kUpdate); });
  cancelButton_ = Button(1013, QStringLiteral("Cancel"));
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

  updateStatus_ = new QGroupBox(QStringLiteral("Update Status"));
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
    units->addWidget(unitNames_[u], u + 1, 0);
    units->addWidget(unitVersions_[u], u + 1, 1);
    units->addWidget(unitDone_[u], u + 1, 2);
  }
  units->setColumnStretch(0, 2);
  units->setColumnStretch(1, 1);
  units->setRowMinimumHeight(4, fontMetrics().height() + 4);
  HideDeviceInfo();
  layout->addWidget(updateStatus_);

  statusLine_ = new QGroupBox;
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
  for (QWidget* child : findChildren<QWidget*>()) {
    const QString name = child->objectName();
    if (!name.startsWith(QLatin1Char('c'))) continue;
    bool isNumber = false;
    const int id = QStringView(name).mid(1).toInt(&isNumber);
    if (!isNumber) continue;
    child->setToolTip(toolTipsEnabled_ ? Qs(ToolTipText(id)) : QString());
  }
}

// --- The device list ---------------------------------------------------------------------------

void ConsoleForm::LoadDeviceList() {
  std::string error;
  if (!list_.Load(listPath_.toStdString(), &error)) {
    log_->AppendMessage(
        QStringLiteral("The device list %1 was not read: %2").arg(listPath_, Qs(error)));
  }
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
  std::string error;
  const auto lock = vel::DeviceListLock::Acquire(listPath_.toStdString(), &error);
  if (!lock || !list_.Save(listPath_.toStdString(), &error)) {
    Message(QStringLiteral("The device list was not saved to %1: %2").arg(listPath_, Qs(error)));
  }
}

// --- The loaded file ---------------------------------------------------------------------------

void ConsoleForm::OpenFile() {
  const QString path =
      QFileDialog::getOpenFileName(this, QStringLiteral("Open"), QString(), kHexFileFilter);
  if (!path.isEmpty()) LoadFile(path);
}

bool ConsoleForm::LoadFile(const QString& path) {
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
  for (int id : vel::HexTestMessageIds(outcome)) Message(Qs(vel::LoadString(id)));
}

// --- Device work -------------------------------------------------------------------------------

bool ConsoleForm::DeviceWorkRunning() const { return walkRunning_; }

void ConsoleForm::EnableWorkButtons(bool enable) {
  const bool fileLoaded = !filePath_.isEmpty();
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
  for (std::size_t r = 0; r < list_.Count(); ++r) {
    if (list_.Row(r).checked) rows.push_back(vel::RowOfList(r, list_.Row(r)));
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
  options.prepareDocument = prepareDocument_;
  HideDeviceInfo();
  if (!jobs_->Start(std::move(rows), std::move(options))) return;
  runningKind_ = kind;
  walkRunning_ = true;
  walkCancelled_ = false;
  runningRows_.clear();
  EnableWorkButtons(false);
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
    case Kind::kRowBegun:
      runningRows_.insert(event.row);
      list_.SetStatus(event.row, event.text);
      table_->ShowStatus(event.row, Qs(event.text));
      if (runningKind_ != vel::JobKind::kCheck) {
        updateStatus_->setTitle(Qs(list_.Row(event.row).name) + kUpgradeStatus);
      }
      break;
    case Kind::kProgress:
      ShowProgressEvent(event);
      break;
    case Kind::kProgressEnded:
      progress_->setValue(progress_->minimum());
      progress_->setEnabled(false);
      statusLine_->setEnabled(false);
      break;
    case Kind::kStatusLine:
      statusLine_->setTitle(Qs(event.text));
      break;
    case Kind::kStatusLogged:
    case Kind::kLogLine:
      log_->AppendMessage(Qs(event.text));
      break;
    case Kind::kUnits:
      ShowUnits(event.units);
      break;
    case Kind::kUnitsHidden:
      HideDeviceInfo();
      break;
    case Kind::kMessage: {
      const QString text = Qs(event.text);
      ShowLater([this, text] { Message(text); });
      break;
    }
    case Kind::kQuestion: {
      if (walkCancelled_) {
        event.question->Answer(false);
        break;
      }
      ShowLater([this, question = event.question] { AnswerQuestion(question); });
      break;
    }
    case Kind::kRowFinished:
      FinishRow(event);
      break;
    case Kind::kWalkFinished:
      FinishWalk(event);
      break;
  }
}

void ConsoleForm::ShowProgressEvent(const vel::JobEvent& event) {
  const QString text = Qs(event.text);
  progress_->setEnabled(true);
  statusLine_->setEnabled(true);
  if (progress_->minimum() != event.low || progress_->maximum() != event.high) {
    progress_->setRange(event.low, std::max(event.low, event.high));
  }
  progress_->setValue(std::clamp(event.position, event.low, std::max(event.low, event.high)));
  if (statusLine_->title() != text) statusLine_->setTitle(text);
  if (runningRows_.size() > 1) {
    const long long span = std::max(1LL, static_cast<long long>(event.high) - event.low);
    const long long percent =
        std::clamp((static_cast<long long>(event.position) - event.low) * 100 / span, 0LL, 100LL);
    table_->ShowStatus(event.row, QStringLiteral("%1% %2").arg(percent).arg(text));
  }
}

void ConsoleForm::FinishRow(const vel::JobEvent& event) {
  runningRows_.erase(event.row);
  const bool succeeded = event.outcome == vel::Outcome::kSucceeded;
  if (event.row < list_.Count()) {
    list_.SetOutcome(event.row, event.text, succeeded);
    table_->ShowStatus(event.row, Qs(event.text));
  }
  if (succeeded && runningKind_ != vel::JobKind::kCheck) {
    for (int u = 0; u < 4; ++u) unitDone_[u]->setChecked(unitDone_[u]->isVisible());
  }
}

void ConsoleForm::FinishWalk(const vel::JobEvent& event) {
  walkRunning_ = false;
  runningRows_.clear();
  cancelButton_->hide();
  table_->SetRowsLocked(false);
  progress_->setValue(progress_->minimum());
  progress_->setEnabled(false);
  statusLine_->setEnabled(false);
  EnableWorkButtons(true);
  emit PortActiveChanged(false);
  if (runningKind_ == vel::JobKind::kUpdate && event.allSucceeded && !event.cancelled) {
    ShowLater([this] { Message(Qs(vel::LoadString(vel::ids::kUpdateSuccessful))); });
  }
}

void ConsoleForm::ShowUnits(const std::vector<vel::UnitLabel>& units) {
  for (const vel::UnitLabel& unit : units) {
    if (unit.unit < 0 || unit.unit > 3) continue;
    const auto u = static_cast<std::size_t>(unit.unit);
    unitNames_[u]->setText(Qs(unit.name));
    unitVersions_[u]->setText(Qs(unit.firmwareVersion));
    unitNames_[u]->show();
    unitVersions_[u]->show();
    unitDone_[u]->show();
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

void ConsoleForm::AnswerQuestion(const std::shared_ptr<vel::JobQuestion>& question) {
  if (walkCancelled_) {
    question->Answer(false);
    return;
  }
  if (question->GetKind() == vel::JobQuestion::Kind::kConfirmDevice) {
    VersionDialog dialog(*question->Request(), this);
    question->Answer(dialog.exec() == QDialog::Accepted);
    return;
  }
  const auto answer = QMessageBox::question(this, window()->windowTitle(), Qs(question->Text()),
                                            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
  question->Answer(answer == QMessageBox::Yes);
}

// --- Dialogs for events ------------------------------------------------------------------------

void ConsoleForm::ShowLater(std::function<void()> dialog) {
  dialogs_.push_back(std::move(dialog));
  if (!dialogShowing_ && dialogs_.size() == 1) {
    QTimer::singleShot(0, this, &ConsoleForm::ShowNextDialog);
  }
}

void ConsoleForm::ShowNextDialog() {
  if (dialogShowing_ || dialogs_.empty()) return;
  dialogShowing_ = true;
  const std::function<void()> dialog = std::move(dialogs_.front());
  dialogs_.pop_front();
  dialog();
  dialogShowing_ = false;
  if (!dialogs_.empty()) QTimer::singleShot(0, this, &ConsoleForm::ShowNextDialog);
}

void ConsoleForm::Message(const QString& text) {
  QMessageBox::information(this, window()->windowTitle(), text);
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

void ConsoleForm::OpenSerialSettings() {
  SerialChoices choices = serial_;
  vel::PresetPortOverride(choices.portIndex, choices.settings);
  choices.mapping = vel::LoadPortMapFile(vel::PortMapFilePath());
  SerialSettingsDialog dialog(choices, vel::ListSerialDevices(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  serial_ = dialog.Choices();
  std::string error;
  if (!vel::SavePortMapFile(vel::PortMapFilePath(), serial_.mapping, &error)) {
    Message(QStringLiteral("The COM port mapping was not saved: %1").arg(Qs(error)));
  }
}

void ConsoleForm::contextMenuEvent(QContextMenuEvent* event) {
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
  open->setEnabled(findChild<QPushButton*>(ControlName(1007))->isEnabled());
  QMenu* recent = menu.addMenu(QStringLiteral("Recent &Files"));
  recent->setEnabled(!recentFiles_.isEmpty());
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
