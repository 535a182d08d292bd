// The console form's controls, laid out and wired: the file row, the device list and its
// buttons, the progress panel, the units' labels and the advanced row.
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <map>

#include "../views/MessageLog.h"
#include "../widgets/AppStyle.h"
#include "../widgets/ToolTips.h"
#include "ConsoleForm.h"
#include "DeviceTable.h"
#include "SessionRecordSetting.h"
#include "common/Strings.h"
#include "common/Version.h"

namespace zandorui {

namespace {

// Unit u's labels are controls 1124 - u (name), 1128 - u (version) and 1132 - u (done).
constexpr int kUnitNameId = 1124;
constexpr int kUnitVersionId = 1128;
constexpr int kUnitDoneId = 1132;

// A control that appears and disappears keeps its place, so that nothing around it moves.
void KeepPlaceWhenHidden(QWidget* widget) {
  QSizePolicy policy = widget->sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  widget->setSizePolicy(policy);
}

}  // namespace

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

  table_ = new DeviceTable(*rows_);
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
  auto* canaryLabel = new QLabel(QStringLiteral("Canary rows:"));
  canaryRowsBox_ = new QSpinBox;
  canaryRowsBox_->setObjectName(QStringLiteral("canaryRows"));
  canaryRowsBox_->setRange(0, kMaxRowsAtOnce);
  canaryRowsBox_->setSpecialValueText(QStringLiteral("off"));
  canaryRowsBox_->setValue(canaryRows_);
  canaryLabel->setBuddy(canaryRowsBox_);
  connect(canaryRowsBox_, &QSpinBox::valueChanged, this, &ConsoleForm::SetCanaryRows);
  stopOnFailureBox_ = new QCheckBox(QStringLiteral("Stop on failure"));
  stopOnFailureBox_->setObjectName(QStringLiteral("stopOnFailure"));
  stopOnFailureBox_->setChecked(stopOnFailure_);
  connect(stopOnFailureBox_, &QCheckBox::toggled, this, &ConsoleForm::SetStopOnFailure);
  workRow->addWidget(checkButton_);
  workRow->addWidget(sendButton_);
  workRow->addWidget(cancelButton_);
  workRow->addStretch();
  workRow->addWidget(rowsLabel);
  workRow->addWidget(rowsAtOnceBox_);
  workRow->addWidget(canaryLabel);
  workRow->addWidget(canaryRowsBox_);
  workRow->addWidget(stopOnFailureBox_);
  layout->addLayout(workRow);
  auto* recordRow = new QHBoxLayout;
  sessionRecords_ = new SessionRecordSetting;
  recordRow->addStretch();
  recordRow->addWidget(sessionRecords_);
  layout->addLayout(recordRow);

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
    KeepPlaceWhenHidden(button);  // override 02 shows them without moving or widening anything
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

void ConsoleForm::WireOverrides() {
  connect(overrides_, &ConsoleOverrides::AdvancedFunctionsChanged, this,
          &ConsoleForm::ShowAdvancedButtons);
  connect(overrides_, &ConsoleOverrides::AdvancedSettingsChanged, advancedSettingsButton_,
          &QPushButton::setEnabled);
  connect(overrides_, &ConsoleOverrides::ToolTipsChanged, this, &ConsoleForm::ApplyToolTips);
  connect(overrides_, &ConsoleOverrides::OpenRequested, this, &ConsoleForm::OpenFile);
  connect(overrides_, &ConsoleOverrides::RecentFileChosen, this, &ConsoleForm::LoadFile);
  connect(overrides_, &ConsoleOverrides::LogRequested, this, &ConsoleForm::ShowLog);
  connect(overrides_, &ConsoleOverrides::ComPortsRequested, this, &ConsoleForm::OpenComPorts);
  connect(overrides_, &ConsoleOverrides::HelpRequested, this, &ConsoleForm::HelpRequested);
  connect(overrides_, &ConsoleOverrides::StatusBarToggled, this, &ConsoleForm::StatusBarToggled);
  connect(overrides_, &ConsoleOverrides::AboutRequested, this, &ConsoleForm::AboutRequested);
  // The file dialog opens once the menu has closed, not inside the menu's own event handling.
  connect(overrides_, &ConsoleOverrides::SaveReportRequested, this, &ConsoleForm::SaveReport,
          Qt::QueuedConnection);
  connect(overrides_, &ConsoleOverrides::RetryFailedRequested, this, &ConsoleForm::TickFailedRows);
}

void ConsoleForm::WireWalks() {
  connect(walks_, &WalkController::Started, this, &ConsoleForm::WalkStarted);
  connect(walks_, &WalkController::PanelChanged, this, &ConsoleForm::ShowPanel);
  connect(walks_, &WalkController::LogLine, log_, &MessageLog::AppendMessage);
  connect(walks_, &WalkController::Finished, this, &ConsoleForm::WalkFinished);
}

void ConsoleForm::ApplyToolTips() {
  // The open record and memory views are its children.
  SetToolTips(*this, overrides_->ToolTipsEnabled());
}

void ConsoleForm::ShowAdvancedButtons(bool shown) {
  for (QPushButton* button : advancedButtons_) button->setVisible(shown);
}

}  // namespace zandorui
