#include "VersionDialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "../widgets/AppStyle.h"
#include "common/Strings.h"
#include "image/VersionText.h"

namespace zandorui {

namespace {

// Control numbers: per image or unit, the device type, hardware and firmware labels.
constexpr std::array<std::array<int, 3>, 3> kImageIds{
    {{1043, 1044, 1045}, {1052, 1053, 1054}, {1061, 1062, 1063}}};
constexpr std::array<std::array<int, 3>, 4> kUnitIds{
    {{1042, 1041, 1040}, {1090, 1093, 1051}, {1091, 1094, 1060}, {1092, 1095, 1069}}};
constexpr std::array<std::array<int, 3>, 4> kVerdictIds{
    {{1046, 1047, 1048}, {1081, 1082, 1087}, {1083, 1085, 1088}, {1084, 1086, 1089}}};
constexpr std::array<int, 4> kUpgradeIds{1076, 1077, 1078, 1079};

Qt::CheckState StateOf(int verdict) {
  return verdict == vel::kFits         ? Qt::Checked
         : verdict == vel::kUnknownFit ? Qt::PartiallyChecked
                                       : Qt::Unchecked;
}

QString Q(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

VersionDialog::VersionDialog(vel::ConfirmationRequest request, QWidget* parent)
    : QDialog(parent), request_(std::move(request)), check_(request_) {
  setWindowTitle(QStringLiteral("Zandor Device and File Version Information"));
  setObjectName(QStringLiteral("versionDialog"));
  BuildLayout();
  ShowValues();
  if (!request_.informationOnly) {
    cancel_->show();
    // A device whose serial number must still be entered waits for the operator.
    QTimer::singleShot(kSelfConfirmMs, this, [this] {
      if (ok_->isEnabled()) ClickOk();
    });
  }
}

void VersionDialog::BuildLayout() {
  auto* layout = new QVBoxLayout(this);
  int headingId = 1137;
  const auto heading = [&](const QString& text) {
    auto* label = new QLabel(text);
    label->setObjectName(ControlName(headingId++));
    label->setFont(AppFont(true));
    return label;
  };
  const auto value = [](int id) {
    auto* label = new QLabel(Qs(vel::text::kUnknown));
    label->setObjectName(ControlName(id));
    label->setMinimumWidth(110);
    return label;
  };

  const auto versionGrid = [&](const QString& title) {
    auto* group = new QGroupBox(title);
    auto* grid = new QGridLayout(group);
    grid->addWidget(heading(QStringLiteral("Device Type")), 0, 1);
    grid->addWidget(heading(QStringLiteral("H/W Version")), 0, 2);
    grid->addWidget(heading(QStringLiteral("F/W Version")), 0, 3);
    layout->addWidget(group);
    return grid;
  };

  auto* fileGrid = versionGrid(QStringLiteral("Hex File Information"));
  for (int k = 0; k < 3; ++k) {
    fileGrid->addWidget(new QLabel(QStringLiteral("Image %1").arg(k)), k + 1, 0);
    for (int c = 0; c < 3; ++c) {
      imageLabels_[k][c] = value(kImageIds[k][c]);
      fileGrid->addWidget(imageLabels_[k][c], k + 1, c + 1);
    }
  }

  auto* deviceGrid = versionGrid(QStringLiteral("Device Information"));
  deviceGrid->addWidget(heading(QStringLiteral("Version OK?")), 0, 4, 1, 3);
  deviceGrid->addWidget(heading(QStringLiteral("Upgrade ?")), 0, 7);
  for (int u = 0; u < 4; ++u) {
    deviceGrid->addWidget(new QLabel(QStringLiteral("Unit %1").arg(u)), u + 1, 0);
    for (int c = 0; c < 3; ++c) {
      unitLabels_[u][c] = value(kUnitIds[u][c]);
      deviceGrid->addWidget(unitLabels_[u][c], u + 1, c + 1);
      auto* box = new QCheckBox;
      box->setObjectName(ControlName(kVerdictIds[u][c]));
      box->setTristate(true);
      box->setEnabled(false);
      box->setToolTip(QStringList{"Device type", "Hardware version", "Firmware version"}[c]);
      verdictBoxes_[u][c] = box;
      deviceGrid->addWidget(box, u + 1, c + 4);
    }
    auto* upgrade = new QCheckBox;
    upgrade->setObjectName(ControlName(kUpgradeIds[u]));
    upgrade->setEnabled(false);
    connect(upgrade, &QCheckBox::clicked, this, [this, u] { ToggleUnit(u); });
    upgradeBoxes_[u] = upgrade;
    deviceGrid->addWidget(upgrade, u + 1, 7);
  }

  layout->addWidget(heading(QStringLiteral("Special Information")));
  auxiliary_ = new QPlainTextEdit;
  auxiliary_->setObjectName(ControlName(1039));
  auxiliary_->setReadOnly(true);
  auxiliary_->setMinimumHeight(90);
  layout->addWidget(auxiliary_);

  auto* bottom = new QHBoxLayout;
  auto* serialLabel = new QLabel(QStringLiteral("Serial Number:"));
  serialLabel->setObjectName(ControlName(1146));
  serialLabel->setFont(AppFont(true));
  serial_ = new QLineEdit;
  serial_->setObjectName(ControlName(1038));
  serial_->setMaxLength(static_cast<int>(vel::kMaxSerialText));
  connect(serial_, &QLineEdit::textChanged, this, &VersionDialog::UpdateOkButton);
  ok_ = new QPushButton(QStringLiteral("OK"));
  ok_->setObjectName(ControlName(1));
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &VersionDialog::ClickOk);
  cancel_ = new QPushButton(QStringLiteral("Cancel"));
  cancel_->setObjectName(ControlName(2));
  cancel_->hide();
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  bottom->addWidget(serialLabel);
  bottom->addWidget(serial_);
  bottom->addStretch();
  bottom->addWidget(ok_);
  bottom->addWidget(cancel_);
  layout->addLayout(bottom);
}

void VersionDialog::ShowValues() {
  const vel::DeviceIdentity& device = request_.device;
  const vel::LoadedFirmware& file = *request_.file;
  for (int u = 0; u < 4; ++u) {
    if (u > 0 && device.unitCount <= u) continue;
    unitLabels_[u][0]->setText(Q(vel::DeviceColumnName(device.typeCode[u])));
    if (u == 0 || !device.hardwareVersion[u].empty()) {
      unitLabels_[u][1]->setText(Q(vel::FormatUnitHardware(device.hardwareVersion[u])));
    }
    if (u == 0 || !device.firmwareVersion[u].empty()) {
      unitLabels_[u][2]->setText(Q(vel::FormatFirmwareVersion(device.firmwareVersion[u])));
    }
  }
  if (!file.HasFile()) {
    for (QLabel* label : imageLabels_[0]) label->setText(QStringLiteral("<none>"));
  } else if (file.MetadataPresent()) {
    for (int k = 0; k < std::min(3, file.ImageCount()); ++k) {
      const vel::FirmwareInfo& info = file.Info(k);
      imageLabels_[k][0]->setText(Q(vel::FileColumnName(info.deviceType)));
      imageLabels_[k][1]->setText(Q(vel::FormatHardwareList(info.hardwareVersions)));
      imageLabels_[k][2]->setText(Q(vel::FormatFirmwareVersion(info.firmwareVersion)));
    }
  }
  const bool judged = file.HasFile() ? file.MetadataPresent() : true;
  for (int u = 0; u < 4 && judged; ++u) {
    if (u >= std::max(1, device.unitCount)) break;
    const vel::UnitVerdicts& verdicts = check_.Verdicts(u);
    verdictBoxes_[u][0]->setCheckState(StateOf(verdicts.type));
    verdictBoxes_[u][1]->setCheckState(StateOf(verdicts.hardware));
    verdictBoxes_[u][2]->setCheckState(StateOf(verdicts.firmware));
  }
  for (int u = 0; u < 4; ++u) {
    upgradeBoxes_[u]->setEnabled(check_.UnitBoxEnabled(u));
    // A box is ticked for a unit that got an image (also in a check run, where it is disabled).
    upgradeBoxes_[u]->setChecked(check_.UnitSelected(u) && check_.UnitImage(u) != vel::kNoImage);
  }
  QString auxiliary;
  for (const std::string& line : check_.AuxiliaryLines()) {
    auxiliary += Q(line).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  }
  auxiliary_->setPlainText(auxiliary);
  // The device's own number shows whole (the core keeps all of it when it is left unchanged);
  // a number typed in holds at most 12 characters.
  const QString deviceSerial = Q(check_.InitialSerialText());
  serial_->setMaxLength(
      std::max(static_cast<int>(vel::kMaxSerialText), static_cast<int>(deviceSerial.size())));
  serial_->setText(deviceSerial);
  serial_->setEnabled(check_.SerialEditable());
  if (check_.SerialEditable() && check_.NeedsSerialNumber()) {
    serial_->setFocus();
  } else {
    ok_->setFocus();
  }
  UpdateOkButton();
}

void VersionDialog::UpdateOkButton() {
  ok_->setEnabled(check_.OkEnabledFor(serial_->text().toStdString()));
}

void VersionDialog::ToggleUnit(int unit) {
  check_.ToggleUnit(unit);
  upgradeBoxes_[unit]->setChecked(check_.UnitSelected(unit));
}

void VersionDialog::ClickOk() {
  // A number typed in is refused when it is longer than a device keeps (the device's own may
  // be longer, and stays whole when left as it is).
  const QString serial = serial_->text();
  if (serial != Q(check_.InitialSerialText()) &&
      serial.size() > static_cast<int>(vel::kMaxSerialText)) {
    QMessageBox::warning(this, windowTitle(),
                         QStringLiteral("A serial number holds at most %1 characters; \"%2\" has "
                                        "%3. Shorten it, or leave the device's own number.")
                             .arg(vel::kMaxSerialText)
                             .arg(serial)
                             .arg(serial.size()));
    serial_->setFocus();
    return;
  }
  switch (check_.Evaluate()) {
    case vel::VersionCheck::OkOutcome::kAccepted:
      break;
    case vel::VersionCheck::OkOutcome::kNoUnitSelected:
      QMessageBox::information(this, windowTitle(), Qs(vel::text::kMustSelectUnit));
      return;
    case vel::VersionCheck::OkOutcome::kWrongFirmware:
      QMessageBox::critical(this, windowTitle(), Qs(vel::text::kWrongFirmware));
      reject();
      return;
    case vel::VersionCheck::OkOutcome::kAskCompatibility:
      if (QMessageBox::warning(this, windowTitle(), Qs(vel::text::kUnknownCompatibility),
                               QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
        reject();
        return;
      }
      break;
  }
  check_.Accept(serial_->text().toStdString());
  accept();
}

}  // namespace zandorui
