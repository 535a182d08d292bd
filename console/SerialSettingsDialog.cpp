#include "SerialSettingsDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "../widgets/AppStyle.h"

namespace zandorui {

namespace {

constexpr int kComEntries = 4;
const QString kUserDefined = QStringLiteral("User Defined");
const QString kOverrideCaption = QStringLiteral("Override Port Settings...");
const QString kCancelOverrideCaption = QStringLiteral("Cancel Manual Override");
constexpr int kIrqLow = 1;
constexpr int kIrqHigh = 16;
constexpr int kAddressCharacters = 4;

}  // namespace

SerialSettingsDialog::SerialSettingsDialog(const SerialChoices& choices,
                                           std::vector<vel::SerialDevice> devices, bool mappingOnly,
                                           QWidget* parent)
    : QDialog(parent), choices_(choices), devices_(std::move(devices)) {
  setWindowTitle(mappingOnly ? QStringLiteral("COM Ports")
                             : QStringLiteral("Advanced Communication Settings"));
  setObjectName(QStringLiteral("serialSettingsDialog"));
  BuildLayout();
  ShowChoices();
  if (mappingOnly) {
    for (QWidget* lineSettings : {static_cast<QWidget*>(port_->parentWidget()),
                                  static_cast<QWidget*>(overrideButton_->parentWidget()),
                                  static_cast<QWidget*>(resetButton_)}) {
      lineSettings->hide();
    }
  }
}

QString SerialSettingsDialog::UnmappedText(int com) const {
  const std::string name = "COM" + std::to_string(com);
  const auto& mapped = environment_.Entries();
  const auto fromEnvironment = mapped.find(name);
  if (fromEnvironment != mapped.end()) {
    return QStringLiteral("(from %1: %2)")
        .arg(QString::fromLatin1(vel::kPortMapVariable), Qs(fromEnvironment->second));
  }
  return QStringLiteral("(default: /dev/ttyS%1)").arg(com - 1);
}

QComboBox* SerialSettingsDialog::List(int id, const QStringList& entries) {
  auto* box = new QComboBox;
  box->setObjectName(ControlName(id));
  box->addItems(entries);
  return box;
}

void SerialSettingsDialog::BuildLayout() {
  auto* layout = new QVBoxLayout(this);
  auto* columns = new QHBoxLayout;
  auto* lineColumn = new QVBoxLayout;
  columns->addLayout(lineColumn);
  layout->addLayout(columns);

  auto* settingsGroup = new QGroupBox(QStringLiteral("Communication Settings"));
  auto* form = new QFormLayout(settingsGroup);
  port_ = List(1001, {"COM1", "COM2", "COM3", "COM4"});
  baud_ = List(1004, {"300", "600", "1200", "2400", "4800", "9600", "19200", "38400"});
  parity_ = List(1005, {"None", "Odd", "Even", "Mark", "Space"});
  stopBits_ = List(1006, {"1 bit", "1.5 bits", "2 bits"});
  dataBits_ = List(1007, {"7 bits", "8 bits"});
  form->addRow(QStringLiteral("Serial Port"), port_);
  form->addRow(QStringLiteral("Baud Rate"), baud_);
  form->addRow(QStringLiteral("Parity"), parity_);
  form->addRow(QStringLiteral("Stop Bits"), stopBits_);
  form->addRow(QStringLiteral("Data Bits"), dataBits_);
  connect(port_, &QComboBox::activated, this, &SerialSettingsDialog::ShowPortDefaults);
  lineColumn->addWidget(settingsGroup);

  auto* overrideGroup = new QGroupBox(QStringLiteral("Direct Com Port Control"));
  auto* overrideForm = new QFormLayout(overrideGroup);
  overrideButton_ = new QPushButton(kOverrideCaption);
  overrideButton_->setObjectName(ControlName(1008));
  connect(overrideButton_, &QPushButton::clicked, this, &SerialSettingsDialog::ToggleOverride);
  address_ = new QLineEdit;
  address_->setObjectName(ControlName(1009));
  address_->setMaxLength(kAddressCharacters);
  irq_ = new QLineEdit;
  irq_->setObjectName(ControlName(1010));
  overrideForm->addRow(overrideButton_);
  overrideForm->addRow(QStringLiteral(" Port Address 0x"), address_);
  overrideForm->addRow(QStringLiteral("Port IRQ"), irq_);
  lineColumn->addWidget(overrideGroup);
  lineColumn->addStretch();

  auto* mappingGroup = new QGroupBox(QStringLiteral("COM Ports on This Machine"));
  auto* mappingLayout = new QVBoxLayout(mappingGroup);
  auto* hint = new QLabel(QStringLiteral("The serial device each COM number of the device list "
                                         "opens. Saved for this user in %1; the command-line "
                                         "tool reads it too.")
                              .arg(Qs(vel::PortMapFilePath())));
  hint->setWordWrap(true);
  mappingLayout->addWidget(hint);
  mappingTable_ = new QTableWidget(kMappedComPorts, 1);
  mappingTable_->setObjectName(QStringLiteral("comPortMapping"));
  mappingTable_->setHorizontalHeaderLabels({QStringLiteral("Serial device")});
  mappingTable_->horizontalHeader()->setStretchLastSection(true);
  for (int com = 1; com <= kMappedComPorts; ++com) {
    mappingTable_->setVerticalHeaderItem(com - 1,
                                         new QTableWidgetItem(QStringLiteral("COM%1").arg(com)));
    auto* device = new QComboBox;
    device->setObjectName(QStringLiteral("comPort%1").arg(com));
    device->setEditable(true);
    device->addItem(UnmappedText(com));
    for (const vel::SerialDevice& present : devices_) {
      device->addItem(Qs(present.path));
      for (const std::string& name : present.byIdNames) device->addItem(Qs(name));
    }
    const auto& entries = choices_.mapping.Entries();
    const auto mapped = entries.find("COM" + std::to_string(com));
    if (mapped != entries.end()) device->setCurrentText(Qs(mapped->second));
    mappingTable_->setCellWidget(com - 1, 0, device);
  }
  mappingTable_->setMinimumSize(420, 240);
  mappingLayout->addWidget(mappingTable_);
  columns->addWidget(mappingGroup, 1);

  auto* buttons = new QHBoxLayout;
  auto* reset = new QPushButton(QStringLiteral("Reset Port Defaults"));
  reset->setObjectName(ControlName(1003));
  resetButton_ = reset;
  connect(reset, &QPushButton::clicked, this, &SerialSettingsDialog::ResetPortDefaults);
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  box->button(QDialogButtonBox::Ok)->setObjectName(ControlName(1));
  box->button(QDialogButtonBox::Cancel)->setObjectName(ControlName(2));
  connect(box, &QDialogButtonBox::accepted, this, &SerialSettingsDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &SerialSettingsDialog::reject);
  buttons->addWidget(reset);
  buttons->addStretch();
  buttons->addWidget(box);
  layout->addLayout(buttons);
}

void SerialSettingsDialog::ShowChoices() {
  const vel::SerialSettings& s = choices_.settings;
  baud_->setCurrentIndex(s.baudIndex);
  parity_->setCurrentIndex(s.parityIndex);
  stopBits_->setCurrentIndex(s.stopBitsIndex);
  dataBits_->setCurrentIndex(s.dataBitsIndex);
  address_->setText(Qs(s.portAddress));
  irq_->setText(QString::number(s.portIrq));
  override_ = s.overridePort;
  if (override_) {
    AddUserDefined();
    overrideButton_->setText(kCancelOverrideCaption);
  }
  port_->setCurrentIndex(choices_.portIndex);
  port_->setEnabled(!override_);
  address_->setEnabled(override_);
  irq_->setEnabled(override_);
}

void SerialSettingsDialog::AddUserDefined() {
  if (port_->count() <= kComEntries) port_->addItem(kUserDefined);
}

void SerialSettingsDialog::RemoveUserDefined() {
  while (port_->count() > kComEntries) port_->removeItem(kComEntries);
}

void SerialSettingsDialog::SetOverride(bool on) {
  override_ = on;
  port_->setEnabled(!on);
  address_->setEnabled(on);
  irq_->setEnabled(on);
  overrideButton_->setText(on ? kCancelOverrideCaption : kOverrideCaption);
}

void SerialSettingsDialog::ToggleOverride() {
  SetOverride(!override_);
  if (override_) {
    AddUserDefined();
    port_->setCurrentIndex(kComEntries);
    address_->setFocus();
  } else {
    RemoveUserDefined();
    port_->setCurrentIndex(0);
    address_->setText(QStringLiteral("3F8"));
    irq_->setText(QStringLiteral("4"));
    port_->setFocus();
  }
}

void SerialSettingsDialog::ResetPortDefaults() {
  if (override_) {
    SetOverride(false);
    port_->setFocus();
    port_->setCurrentIndex(0);  // "User Defined" stays in the list until the dialog closes
  }
  baud_->setCurrentIndex(5);
  parity_->setCurrentIndex(0);
  dataBits_->setCurrentIndex(1);
  stopBits_->setCurrentIndex(0);
  ShowPortDefaults();
}

void SerialSettingsDialog::ShowPortDefaults() {
  address_->setText(Qs(vel::PortAddressFor(port_->currentIndex(), choices_.settings)));
  irq_->setText(QString::number(vel::PortIrqFor(port_->currentIndex(), choices_.settings)));
}

void SerialSettingsDialog::accept() {
  bool isNumber = false;
  const int irq = irq_->text().trimmed().toInt(&isNumber);
  if (!isNumber || irq < kIrqLow || irq > kIrqHigh) {
    QMessageBox::warning(
        this, windowTitle(),
        QStringLiteral("Please enter an integer between %1 and %2.").arg(kIrqLow).arg(kIrqHigh));
    irq_->setFocus();
    irq_->selectAll();
    return;
  }
  if (address_->text().size() > kAddressCharacters) {
    QMessageBox::warning(
        this, windowTitle(),
        QStringLiteral("Please enter no more than %1 characters.").arg(kAddressCharacters));
    address_->setFocus();
    return;
  }
  vel::SerialSettings& s = choices_.settings;
  s.baudIndex = baud_->currentIndex();
  s.parityIndex = parity_->currentIndex();
  s.stopBitsIndex = stopBits_->currentIndex();
  s.dataBitsIndex = dataBits_->currentIndex();
  s.portAddress = address_->text().toStdString();
  s.portIrq = irq;
  s.overridePort = override_;
  choices_.portIndex = port_->currentIndex();
  for (int com = 1; com <= kMappedComPorts; ++com) {
    const auto* device = static_cast<QComboBox*>(mappingTable_->cellWidget(com - 1, 0));
    const QString text = device->currentText().trimmed();
    const std::string name = "COM" + std::to_string(com);
    if (text.isEmpty() || text == UnmappedText(com)) {
      choices_.mapping.Remove(name);
    } else {
      choices_.mapping.Set(name, text.toStdString());
    }
  }
  QDialog::accept();
}

}  // namespace zandorui
