#include <gtest/gtest.h>

#include "devices/VersionCheck.h"
#include "image/HexFileLoader.h"

namespace vel {
namespace {

TEST(Verdicts, DeviceTypes) {
  EXPECT_EQ(MatchDeviceType("G4 ", "G6"), kFits);
  EXPECT_EQ(MatchDeviceType("G4x", "G5"), kFits);
  EXPECT_EQ(MatchDeviceType("N8 ", "NB"), kFits);
  EXPECT_EQ(MatchDeviceType("NB ", "N8"), kDoesNotFit);
  EXPECT_EQ(MatchDeviceType("G3 ", "G3 "), kFits);
  EXPECT_EQ(MatchDeviceType("G3 ", "G3"), kDoesNotFit);
  EXPECT_EQ(MatchDeviceType("G3 ", "G4"), kDoesNotFit);
  EXPECT_EQ(MatchDeviceType("?", "G4"), kUnknownFit);
  EXPECT_EQ(MatchDeviceType("G4 ", "?"), kUnknownFit);
}

TEST(Verdicts, ColumnNamesComeFromTheFamilyRowOfTheCode) {
  EXPECT_EQ(DeviceColumnName("JQH"), "G4-NODE");
  EXPECT_EQ(DeviceColumnName("YPD"), "DravikA-LWN");
  EXPECT_EQ(DeviceColumnName("YPB"), "DravikA");
  EXPECT_EQ(DeviceColumnName("G5 "), "KestaHWIII");
  EXPECT_EQ(FileColumnName("G5 "), "Kesta Loader");
  EXPECT_EQ(FileColumnName("JQH"), "G4-NODEBOX");
  EXPECT_EQ(FileColumnName("ZZZ"), "<Unknown>");
}

TEST(Verdicts, HardwareAndFirmware) {
  EXPECT_EQ(CheckHardwareVersion("AB", {"AA", "AB"}), kFits);
  EXPECT_EQ(CheckHardwareVersion("AD", {"AA", "AB"}), kDoesNotFit);
  EXPECT_EQ(CheckHardwareVersion("AD", {"??"}), kFits);
  EXPECT_EQ(CheckHardwareVersion("?", {"AA"}), kUnknownFit);
  EXPECT_EQ(CheckHardwareVersion("?", {"??"}), kFits);
  EXPECT_EQ(CheckHardwareVersion("AA", {}), kUnknownFit);
  EXPECT_EQ(CheckFirmwareVersion("120", "110"), kDoesNotFit);
  EXPECT_EQ(CheckFirmwareVersion("120", "12A"), kFits);
  EXPECT_EQ(CheckFirmwareVersion("099", "100"), kFits);
  EXPECT_EQ(CheckFirmwareVersion("?", "100"), kUnknownFit);
}

TEST(Verdicts, AuxiliaryLines) {
  DeviceIdentity device;
  device.auxiliaryVersions[0] = "101";
  device.auxiliaryVersions[1] = "?";
  device.auxiliaryVersions[2] = "050";
  SharedMetadata file;
  file.displayLines = {"Boot: ", "FPGA: ", "PIC: "};
  file.auxiliaryVersions[0] = "100";
  file.auxiliaryVersions[2] = "051";
  EXPECT_EQ(FormatAuxiliaryLine(0, device, file), "Boot: 101 - WARNING: Version is older\r\n");
  EXPECT_EQ(FormatAuxiliaryLine(1, device, file),
            "FPGA: <Unknown> - Version OK (Compatibility information not required)\r\n");
  EXPECT_EQ(FormatAuxiliaryLine(2, device, file), "PIC: 050 Version OK\r\n");
  EXPECT_EQ(FormatAuxiliaryLine(3, device, file), "Auxiliary Version Value: \r\n");
}

class Confirmation : public ::testing::Test {
 protected:
  void Load(const std::string& text) { ASSERT_TRUE(HexFileLoader(file).Load(text, "t.hex").ok()); }
  void Unit(int u, const std::string& type, const std::string& hw, const std::string& fw) {
    device.unitCount = std::max(device.unitCount, u + 1);
    device.typeCode[u] = type;
    device.hardwareVersion[u] = hw;
    device.firmwareVersion[u] = fw;
  }
  ConfirmationRequest Request() { return {device, file.Loaded(), false, 0x1D, 0xFA, false}; }

  FirmwareFile file;
  DeviceIdentity device;
};

TEST_F(Confirmation, PreselectsTheFittingImagePerUnit) {
  Load(
      "{DeviceType = G3}{HardwareVersionList = AA}\n:00000001FF\n"
      "{DeviceType = G4}{HardwareVersionList = A1 B2}{FirmwareVersion = 110}\n:00000001FF\n");
  Unit(0, "G3 ", "AA", "100");
  Unit(1, "G4 ", "B2", "120");
  auto request = Request();
  VersionCheck check(request);
  // Unit 0: image 0 is another type, and unit 0 tries no further image.
  EXPECT_EQ(check.Verdicts(0).type, kDoesNotFit);
  EXPECT_FALSE(check.UnitBoxEnabled(0));
  // Unit 1 goes on to image 1: the hardware fits, the older firmware is shown but not decisive.
  EXPECT_EQ(check.UnitImage(1), 1);
  EXPECT_EQ(check.Verdicts(1).hardware, kFits);
  EXPECT_EQ(check.Verdicts(1).firmware, kDoesNotFit);
  EXPECT_EQ(check.Evaluate(), VersionCheck::OkOutcome::kWrongFirmware);
}

TEST_F(Confirmation, HardwareThatDoesNotFitLeavesTheUnitSelectedWithoutAnImage) {
  Load("{DeviceType = G4}{HardwareVersionList = A1}\n:00000001FF\n");
  Unit(0, "G4 ", "Z9", "100");
  auto request = Request();
  VersionCheck check(request);
  EXPECT_EQ(check.Verdicts(0).hardware, kDoesNotFit);
  EXPECT_TRUE(check.UnitSelected(0));
  EXPECT_FALSE(check.UnitBoxEnabled(0));
  EXPECT_EQ(check.UnitImage(0), kNoImage);
}

TEST_F(Confirmation, FileWithoutMetadataSelectsNothing) {
  Load(":00000001FF\n");
  Unit(0, "G4 ", "A1", "100");
  auto request = Request();
  VersionCheck check(request);
  EXPECT_EQ(check.Evaluate(), VersionCheck::OkOutcome::kNoUnitSelected);
  check.ToggleUnit(0);
  EXPECT_EQ(check.Evaluate(), VersionCheck::OkOutcome::kAccepted);
}

TEST_F(Confirmation, UnknownTypeAsksTheOperator) {
  // Metadata without a device type: the unit stays selected, without an image, and OK asks.
  Load("{FirmwareVersion = 100}\n:00000001FF\n");
  Unit(0, "G4 ", "A1", "100");
  auto request = Request();
  VersionCheck check(request);
  EXPECT_EQ(check.Verdicts(0).type, kUnknownFit);
  EXPECT_TRUE(check.UnitSelected(0));
  EXPECT_EQ(check.UnitImage(0), kNoImage);
  EXPECT_EQ(check.Evaluate(), VersionCheck::OkOutcome::kAskCompatibility);
  check.ToggleUnit(0);
  EXPECT_EQ(check.Evaluate(), VersionCheck::OkOutcome::kNoUnitSelected);
}

TEST_F(Confirmation, AnUpdateLeavesADeviceAloneOnlyWhenEveryUnitItWouldUpdateHoldsItsImage) {
  Load(
      "{DeviceType = G4}{HardwareVersionList = A1}{FirmwareVersion = 110}\n:00000001FF\n"
      "{DeviceType = G4}{HardwareVersionList = B2}{FirmwareVersion = 120}\n:00000001FF\n");
  Unit(0, "G4 ", "A1", "110");
  Unit(1, "G4 ", "B2", "120");
  EXPECT_EQ(EffectOfUpdate(Request()), UpdateEffect::kCurrent) << "each unit against its image";
  for (const char* held : {"110", "121", "?", ""}) {
    Unit(1, "G4 ", "B2", held);
    EXPECT_EQ(EffectOfUpdate(Request()), UpdateEffect::kChanges) << "unit 1 at '" << held << "'";
  }
  Unit(1, "G4 ", "Z9", "120");  // no image fits its hardware
  EXPECT_EQ(EffectOfUpdate(Request()), UpdateEffect::kChanges);
  Unit(0, "G3 ", "A1", "110");
  EXPECT_EQ(EffectOfUpdate(Request()), UpdateEffect::kRefused);
}

TEST_F(Confirmation, SerialNumberRules) {
  Load("{DeviceType = G4}{HardwareVersionList = A1}\n:00000001FF\n");
  Unit(0, "G4 ", "A1", "100");
  auto request = Request();
  VersionCheck without(request);
  EXPECT_TRUE(without.NeedsSerialNumber());
  EXPECT_FALSE(without.OkEnabledFor(""));
  EXPECT_FALSE(without.OkEnabledFor("1234567"));
  EXPECT_TRUE(without.OkEnabledFor("12345678"));
  without.Accept("ABCDEFGHIJKLMNOP");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(without.Choices().serialNumber.data())),
            "ABCDEFGHIJKL");

  const std::string serial = "SERIAL0123456789";
  std::copy(serial.begin(), serial.end(), device.serialNumber.begin());
  auto withSerial = Request();
  VersionCheck kept(withSerial);
  EXPECT_FALSE(kept.SerialEditable());
  kept.Accept(kept.InitialSerialText());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(kept.Choices().serialNumber.data()), 16),
            serial)
      << "an unchanged number keeps all 16 characters";

  device.serialNumber[0] = kNoSerialNumber;
  auto optional = Request();
  optional.serialNumberOptional = true;
  VersionCheck allowed(optional);
  EXPECT_TRUE(allowed.OkEnabledFor(""));
  allowed.Accept("");
  EXPECT_EQ(allowed.Choices().serialNumber[0], kNoSerialNumber);
}

}  // namespace
}  // namespace vel
