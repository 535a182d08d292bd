#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdlib>

#include "GuiSupport.h"
#include "GuiTests.h"
#include "console/SerialSettingsDialog.h"
#include "console/VersionDialog.h"
#include "image/HexFileLoader.h"

namespace zandorui::testing {

namespace {

template <typename T = QWidget>
T* Control(QWidget& root, int id) {
  T* found = root.findChild<T*>(QStringLiteral("c%1").arg(id));
  if (found == nullptr) qFatal("no control %d", id);
  return found;
}

QString Combo(QWidget& root, int id) { return Control<QComboBox>(root, id)->currentText(); }

// Runs `act` once the dialog's event loop runs, then leaves the dialog by `exit` if it is still
// open; returns the dialog's result.
int RunDialog(QDialog& dialog, const std::function<void()>& act) {
  QTimer::singleShot(0, &dialog, [&] {
    act();
    if (dialog.isVisible()) dialog.reject();
  });
  return dialog.exec();
}

// A device of one unit and the loaded sample it is checked against.
struct CheckedDevice {
  explicit CheckedDevice(const char* sample, bool informationOnly) {
    vel::HexFileLoader(file).LoadPath(std::string(ZANDOR_SAMPLES_DIR "/") + sample);
    device.unitCount = 1;
    device.typeCode[0] = "G4 ";
    device.hardwareVersion[0] = "A1";
    device.firmwareVersion[0] = "310";
    const std::string serial = "SIM0000000000001";
    std::copy(serial.begin(), serial.end(), device.serialNumber.begin());
    this->informationOnly = informationOnly;
    answerByte = informationOnly ? 0xFB : 0xFA;
  }
  vel::FirmwareFile file;
  vel::DeviceIdentity device;
  // Made once the device is as the test wants it.
  vel::ConfirmationRequest Request() const {
    return {device, file.Loaded(), informationOnly, 0x1D, answerByte, serialNumberOptional};
  }
  bool informationOnly = false;
  std::uint8_t answerByte = 0xFA;
  bool serialNumberOptional = false;
};

}  // namespace

// --- The serial settings dialog ----------------------------------------------------------------

void SerialSettingsTest::ShowsTheSettingsAndKeepsThemOnCancel() {
  SerialChoices choices;
  choices.settings.baudIndex = 7;
  SerialSettingsDialog dialog(choices, {});
  QCOMPARE(Combo(dialog, 1004), QStringLiteral("38400"));
  QCOMPARE(Combo(dialog, 1005), QStringLiteral("None"));
  QCOMPARE(Combo(dialog, 1006), QStringLiteral("1 bit"));
  QCOMPARE(Combo(dialog, 1007), QStringLiteral("8 bits"));
  QCOMPARE(Control<QComboBox>(dialog, 1001)->count(), 4);
  QVERIFY(!Control(dialog, 1009)->isEnabled());
  const int result =
      RunDialog(dialog, [&] { Control<QComboBox>(dialog, 1004)->setCurrentIndex(0); });
  QCOMPARE(result, int(QDialog::Rejected));
  QCOMPARE(dialog.Choices().settings.baudIndex, 7);

  SerialSettingsDialog again(choices, {});
  RunDialog(again, [&] {
    Control<QComboBox>(again, 1004)->setCurrentIndex(2);
    Control<QComboBox>(again, 1005)->setCurrentIndex(2);
    Control<QPushButton>(again, 1)->click();
  });
  QCOMPARE(again.Choices().settings.BaudRate(), 1200);
  QCOMPARE(again.Choices().settings.parityIndex, 2);
}

void SerialSettingsTest::OverrideOnAndOffLeavesTheComEntries() {
  SerialSettingsDialog dialog(SerialChoices{}, {});
  auto* toggle = Control<QPushButton>(dialog, 1008);
  toggle->click();
  QCOMPARE(toggle->text(), QStringLiteral("Cancel Manual Override"));
  QCOMPARE(Combo(dialog, 1001), QStringLiteral("User Defined"));
  QVERIFY(!Control(dialog, 1001)->isEnabled());
  QVERIFY(Control(dialog, 1009)->isEnabled());
  Control<QLineEdit>(dialog, 1009)->setText(QStringLiteral("2E8"));
  toggle->click();
  QCOMPARE(toggle->text(), QStringLiteral("Override Port Settings..."));
  QCOMPARE(Control<QComboBox>(dialog, 1001)->count(), 4);
  QCOMPARE(Combo(dialog, 1001), QStringLiteral("COM1"));
  QCOMPARE(Control<QLineEdit>(dialog, 1009)->text(), QStringLiteral("3F8"));
  QCOMPARE(Control<QLineEdit>(dialog, 1010)->text(), QStringLiteral("4"));

  // Shown again with the override on, the list offers "User Defined" once.
  SerialChoices on;
  on.settings.overridePort = true;
  on.portIndex = 4;
  SerialSettingsDialog shown(on, {});
  QCOMPARE(Control<QComboBox>(shown, 1001)->count(), 5);
  QCOMPARE(Combo(shown, 1001), QStringLiteral("User Defined"));
  QCOMPARE(Control<QPushButton>(shown, 1008)->text(), QStringLiteral("Cancel Manual Override"));
}

void SerialSettingsTest::ResetAndPortDefaults() {
  SerialChoices choices;
  choices.settings.baudIndex = 1;
  choices.settings.parityIndex = 3;
  choices.settings.stopBitsIndex = 2;
  choices.settings.dataBitsIndex = 0;
  choices.portIndex = 2;
  SerialSettingsDialog dialog(choices, {});
  Control<QPushButton>(dialog, 1003)->click();
  QCOMPARE(Combo(dialog, 1004), QStringLiteral("9600"));
  QCOMPARE(Combo(dialog, 1005), QStringLiteral("None"));
  QCOMPARE(Combo(dialog, 1006), QStringLiteral("1 bit"));
  QCOMPARE(Combo(dialog, 1007), QStringLiteral("8 bits"));
  QCOMPARE(Combo(dialog, 1001), QStringLiteral("COM3"));  // the port stays
  QCOMPARE(Control<QLineEdit>(dialog, 1009)->text(), QStringLiteral("220"));

  // Choosing COM2 from the list shows its address and IRQ.
  auto* port = Control<QComboBox>(dialog, 1001);
  port->setCurrentIndex(1);
  emit port->activated(1);
  QCOMPARE(Control<QLineEdit>(dialog, 1009)->text(), QStringLiteral("2F8"));
  QCOMPARE(Control<QLineEdit>(dialog, 1010)->text(), QStringLiteral("3"));

  // Reset with the override on switches it off and leaves "User Defined" in the list.
  Control<QPushButton>(dialog, 1008)->click();
  Control<QPushButton>(dialog, 1003)->click();
  QCOMPARE(Control<QPushButton>(dialog, 1008)->text(), QStringLiteral("Override Port Settings..."));
  QCOMPARE(Combo(dialog, 1001), QStringLiteral("COM1"));
  QCOMPARE(port->count(), 5);
  QVERIFY(!Control(dialog, 1010)->isEnabled());
}

void SerialSettingsTest::IrqMustBeOneToSixteen() {
  SerialChoices choices;
  choices.settings.overridePort = true;
  choices.portIndex = 4;
  for (const auto& [irq, accepted] :
       {std::pair{"17", false}, {"0", false}, {"x", false}, {"16", true}}) {
    SerialSettingsDialog dialog(choices, {});
    BoxAnswerer boxes;
    const int result = RunDialog(dialog, [&] {
      Control<QLineEdit>(dialog, 1010)->setText(QString::fromLatin1(irq));
      dialog.accept();
    });
    QCOMPARE(result == QDialog::Accepted, accepted);
    if (!accepted) {
      QCOMPARE(boxes.Texts(),
               QStringList{QStringLiteral("Please enter an integer between 1 and 16.")});
    } else {
      QCOMPARE(dialog.Choices().settings.portIrq, 16);
    }
  }
}

void SerialSettingsTest::ComPortsMapToDevices() {
  SerialChoices choices;
  choices.mapping.Set("COM2", "/dev/ttyUSB7");
  std::vector<vel::SerialDevice> devices{{"/dev/ttyUSB0", {"/dev/serial/by-id/usb-Cable-port0"}},
                                         {"/dev/ttyACM0", {}}};
  SerialSettingsDialog dialog(choices, devices);
  auto* com1 = dialog.findChild<QComboBox*>(QStringLiteral("comPort1"));
  auto* com2 = dialog.findChild<QComboBox*>(QStringLiteral("comPort2"));
  QVERIFY(com1 != nullptr && com2 != nullptr);
  QCOMPARE(com1->currentText(), QStringLiteral("(default: /dev/ttyS0)"));
  QCOMPARE(com1->count(), 4);  // the default, two devices and one stable name
  QCOMPARE(com1->itemText(2), QStringLiteral("/dev/serial/by-id/usb-Cable-port0"));
  QCOMPARE(com2->currentText(), QStringLiteral("/dev/ttyUSB7"));
  RunDialog(dialog, [&] {
    com1->setCurrentIndex(2);
    com2->setCurrentIndex(0);
    dialog.accept();
  });
  const vel::PortNameMap& mapping = dialog.Choices().mapping;
  QCOMPARE(mapping.Resolve("COM1"), std::string("/dev/serial/by-id/usb-Cable-port0"));
  QCOMPARE(mapping.Resolve("COM2"), std::string("/dev/ttyS1"));  // back to the default
  QCOMPARE(mapping.Entries().size(), std::size_t(1));
}

void SerialSettingsTest::PortsMappedByTheEnvironmentSaySo() {
  setenv("ZANDOR_COM_PORTS", "COM3=/dev/pts/9", 1);
  SerialSettingsDialog dialog(SerialChoices{}, {});
  unsetenv("ZANDOR_COM_PORTS");
  const QString shown = dialog.findChild<QComboBox*>(QStringLiteral("comPort3"))->currentText();
  QVERIFY2(shown.contains(QStringLiteral("ZANDOR_COM_PORTS")) &&
               shown.contains(QStringLiteral("/dev/pts/9")),
           qPrintable(shown));
  // OK keeps it out of the file: the variable, not the file, maps COM3.
  RunDialog(dialog, [&] { dialog.accept(); });
  QVERIFY(dialog.Choices().mapping.Entries().empty());
}

// --- The version dialog ------------------------------------------------------------------------

void VersionDialogTest::AnUpdateRunConfirmsItself() {
  CheckedDevice checked("multi-unit.hex", false);
  VersionDialog dialog(checked.Request());
  // A dialog that failed to confirm itself would wait forever: the test ends it instead.
  QTimer::singleShot(5000, &dialog, &QDialog::reject);
  QCOMPARE(dialog.exec(), int(QDialog::Accepted));
  QCOMPARE(dialog.Choices().unitSelected[0], std::uint8_t(1));
  QCOMPARE(dialog.Choices().unitImage[0], std::uint8_t(0));
  // The device's own serial number stays whole.
  QCOMPARE(std::string(reinterpret_cast<const char*>(dialog.Choices().serialNumber.data())),
           std::string("SIM0000000000001"));
}

void VersionDialogTest::ACheckRunWaitsAndShowsTheVerdicts() {
  CheckedDevice checked("multi-unit.hex", true);
  checked.device.firmwareVersion[0] = "310";  // newer than the file's 305
  checked.device.auxiliaryCount = 3;
  checked.device.auxiliaryVersions[1] = "012";
  VersionDialog dialog(checked.Request());
  bool stillOpen = false;
  const int result = RunDialog(dialog, [&] {
    QTest::qWait(60);  // far past the self-confirmation of an update run
    stillOpen = dialog.isVisible();
    QCOMPARE(Control<QLabel>(dialog, 1043)->text(), QStringLiteral("KestaHWIII"));
    QCOMPARE(Control<QLabel>(dialog, 1044)->text(), QStringLiteral("A1, B2 "));
    QCOMPARE(Control<QLabel>(dialog, 1045)->text(), QStringLiteral("3.05"));
    QCOMPARE(Control<QLabel>(dialog, 1040)->text(), QStringLiteral("3.10"));
    QCOMPARE(Control<QCheckBox>(dialog, 1046)->checkState(), Qt::Checked);
    QCOMPARE(Control<QCheckBox>(dialog, 1047)->checkState(), Qt::Checked);
    QCOMPARE(Control<QCheckBox>(dialog, 1048)->checkState(), Qt::Unchecked);  // file is older
    QVERIFY(!Control(dialog, 1076)->isEnabled());  // nothing to choose in a check run
    QVERIFY(!Control(dialog, 2)->isVisible());
    QVERIFY(Control<QPlainTextEdit>(dialog, 1039)
                ->toPlainText()
                .contains(QStringLiteral("FPGA core: 012 - WARNING: Version is older")));
    Control<QPushButton>(dialog, 1)->click();
  });
  QVERIFY(stillOpen);
  QCOMPARE(result, int(QDialog::Accepted));
}

void VersionDialogTest::WithoutMetadataNoUnitIsChosenAndOkStaysOpen() {
  CheckedDevice checked("multi-unit.hex", false);
  QTemporaryDir dir;
  QFile plain(dir.filePath(QStringLiteral("plain.hex")));
  QVERIFY(plain.open(QIODevice::WriteOnly));
  plain.write(":0400000001020304F2\n:00000001FF\n");
  plain.close();
  vel::FirmwareFile file;
  QVERIFY(vel::HexFileLoader(file).LoadPath(plain.fileName().toStdString()).ok());
  VersionDialog dialog(vel::ConfirmationRequest{checked.device, file.Loaded()});
  BoxAnswerer boxes;
  bool openAfterOk = false;
  const int result = RunDialog(dialog, [&] {
    QTRY_COMPARE(boxes.Texts().size(), 1);  // the automatic OK finds no unit
    openAfterOk = dialog.isVisible();
  });
  QCOMPARE(boxes.Texts().value(0),
           QStringLiteral("You must select the unit that you want to upgrade!"));
  QVERIFY(openAfterOk);
  QCOMPARE(result, int(QDialog::Rejected));
  QCOMPARE(dialog.Choices().unitSelected[0], std::uint8_t(0));
}

void VersionDialogTest::AWrongFileLeavesByCancel() {
  CheckedDevice checked("station-three-images.hex", false);  // H2 images for a G4 device
  VersionDialog dialog(checked.Request());
  BoxAnswerer boxes;
  QCOMPARE(dialog.exec(), int(QDialog::Rejected));
  QCOMPARE(boxes.Texts().size(), 1);
  QVERIFY(boxes.Texts()[0].startsWith(
      QStringLiteral("This hex file does not contain firmware for this product.")));
}

void VersionDialogTest::AMissingSerialNumberKeepsOkDisabledUnlessOverridden() {
  CheckedDevice checked("multi-unit.hex", false);
  checked.device.serialNumber.fill(0);
  checked.device.serialNumber[0] = vel::kNoSerialNumber;
  VersionDialog dialog(checked.Request());
  const int result = RunDialog(dialog, [&] {
    QTest::qWait(40);
    QVERIFY(dialog.isVisible());  // it waits for the number instead of confirming itself
    auto* serial = Control<QLineEdit>(dialog, 1038);
    QVERIFY(serial->isEnabled());
    QVERIFY(!Control(dialog, 1)->isEnabled());
    serial->setText(QStringLiteral("1234567"));
    QVERIFY(!Control(dialog, 1)->isEnabled());
    serial->setText(QStringLiteral("12345678"));
    QVERIFY(Control(dialog, 1)->isEnabled());
    Control<QPushButton>(dialog, 1)->click();
  });
  QCOMPARE(result, int(QDialog::Accepted));
  QCOMPARE(std::string(reinterpret_cast<const char*>(dialog.Choices().serialNumber.data())),
           std::string("12345678"));

  CheckedDevice optional("multi-unit.hex", true);
  optional.device.serialNumber[0] = vel::kNoSerialNumber;
  optional.serialNumberOptional = true;
  VersionDialog overridden(optional.Request());
  RunDialog(overridden, [&] { QVERIFY(Control(overridden, 1)->isEnabled()); });  // empty is fine
}

void VersionDialogTest::ASerialNumberOverTwelveCharactersIsRefused() {
  CheckedDevice checked("multi-unit.hex", false);
  checked.serialNumberOptional = true;  // override 01: the number may be changed
  VersionDialog dialog(checked.Request());
  BoxAnswerer boxes;
  const int result = RunDialog(dialog, [&] {
    Control<QLineEdit>(dialog, 1038)->setText(QStringLiteral("ABCDEFGHIJKLM"));
    QTRY_COMPARE(boxes.Texts().size(), 1);  // the automatic OK refuses it
    QVERIFY(dialog.isVisible());
  });
  QCOMPARE(result, int(QDialog::Rejected));
  QVERIFY(boxes.Texts().value(0).contains(QStringLiteral("12")));
  QCOMPARE(std::string(reinterpret_cast<const char*>(dialog.Choices().serialNumber.data())),
           std::string("SIM0000000000001"));
}

}  // namespace zandorui::testing
