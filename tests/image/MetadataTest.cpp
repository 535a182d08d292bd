#include <gtest/gtest.h>

#include "image/Metadata.h"

namespace vel {
namespace {

class MetadataItems : public ::testing::Test {
 protected:
  int Parse(const std::string& item) { return ParseMetadataItem(item, info, shared); }
  FirmwareInfo info;
  SharedMetadata shared;
};

TEST_F(MetadataItems, DeviceTypeAndFirmwareVersion) {
  EXPECT_EQ(Parse("DeviceType = G3"), kKeyDeviceType);
  EXPECT_EQ(info.deviceType, "G3");
  EXPECT_EQ(Parse("FirmwareVersion = 123"), kKeyFirmwareVersion);
  EXPECT_EQ(info.firmwareVersion, "123");
  Parse("DeviceType = TZTX");
  EXPECT_EQ(info.deviceType, "TZT");
  Parse("DeviceType = Q");
  EXPECT_EQ(info.deviceType, "Q");
  Parse("FirmwareVersion = 12345");
  EXPECT_EQ(info.firmwareVersion, "123");
}

TEST_F(MetadataItems, KeyNeedsABlankBeforeTheEqualsSign) {
  EXPECT_EQ(Parse("DeviceType=G3"), -1);
  EXPECT_EQ(info.deviceType, "?");
  EXPECT_EQ(Parse("devicetype = G3"), -1);
  EXPECT_EQ(Parse(""), -1);
  EXPECT_EQ(Parse("   "), -1);
  EXPECT_EQ(Parse("DeviceType =G3"), kKeyDeviceType);  // blanks after '=' are optional
  EXPECT_EQ(info.deviceType, "G3");
}

TEST_F(MetadataItems, HardwareListWithQuotedTokens) {
  Parse("HardwareVersionList = AA AB AC");
  EXPECT_EQ(info.hardwareVersions, (std::vector<std::string>{"AA", "AB", "AC"}));
  Parse("HardwareVersionList = \"Rev A\" B2 \"x y z\"");
  EXPECT_EQ(info.hardwareVersions, (std::vector<std::string>{"Rev A", "B2", "x y z"}));
  Parse("HardwareVersionList = A1 \"\" B2");
  EXPECT_EQ(info.hardwareVersions, (std::vector<std::string>{"A1"}));
  Parse("HardwareVersionList = ABCDEFGHIJKLMNOPQRSTUVWXYZ");
  EXPECT_EQ(info.hardwareVersions, (std::vector<std::string>{"ABCDEFGHIJKLMNOPQRST"}));
  Parse("HardwareVersionList =");
  EXPECT_TRUE(info.hardwareVersions.empty());
}

TEST_F(MetadataItems, HardwareRanges) {
  Parse("HardwareVersionRange = AY BB");
  EXPECT_EQ(info.hardwareVersions, (std::vector<std::string>{"AY", "AZ", "BA", "BB"}));
  Parse("HardwareVersionRange = AZ AZ");
  EXPECT_EQ(info.hardwareVersions, (std::vector<std::string>{"AZ"}));
  Parse("HardwareVersionRange = AA BC");
  EXPECT_EQ(info.hardwareVersions.size(), 29u);
  EXPECT_EQ(info.hardwareVersions.back(), "BC");
  Parse("HardwareVersionRange = BB AA");
  EXPECT_TRUE(info.hardwareVersions.empty());
  for (const char* malformed : {"HardwareVersionRange = AA", "HardwareVersionRange = AA BB CC",
                                "HardwareVersionRange = A BB", "HardwareVersionRange ="}) {
    Parse(malformed);
    EXPECT_EQ(info.hardwareVersions, (std::vector<std::string>{"??"})) << malformed;
  }
}

TEST_F(MetadataItems, AuxiliaryVersionsAndDisplayLines) {
  Parse("AuxiliaryVersion = 2 B07");
  EXPECT_EQ(shared.auxiliaryVersions[1], "B07");
  EXPECT_EQ(shared.auxiliaryVersions[0], "?");
  EXPECT_EQ(shared.auxiliaryVersions[2], "?");
  Parse("Display = 2 Boot");
  ASSERT_EQ(shared.displayLines.size(), 2u);
  EXPECT_EQ(shared.displayLines[0], "");
  EXPECT_EQ(shared.displayLines[1], "Boot: ");
  Parse("Display = 1 \"FPGA core\"");
  EXPECT_EQ(shared.displayLines[0], "FPGA core: ");
}

TEST_F(MetadataItems, TooFewTokensOrBadNumbersChangeNothing) {
  Parse("DeviceType = G4");
  Parse("FirmwareVersion = 100");
  Parse("AuxiliaryVersion = 3 A01");
  const FirmwareInfo infoBefore = info;
  const SharedMetadata sharedBefore = shared;
  for (const char* item :
       {"DeviceType =", "DeviceType", "FirmwareVersion = ", "AuxiliaryVersion = 3",
        "AuxiliaryVersion = 0 B01", "AuxiliaryVersion = 21 B01", "AuxiliaryVersion = -1 B01",
        "AuxiliaryVersion = 99999999999999999999 B01", "AuxiliaryVersion = 3x B01", "Display = 1",
        "Display = 0 Boot", "Display = 2147483647 Boot", "Display = abc Boot"}) {
    EXPECT_NE(Parse(item), -1) << item;
    EXPECT_EQ(info.deviceType, infoBefore.deviceType) << item;
    EXPECT_EQ(info.firmwareVersion, infoBefore.firmwareVersion) << item;
    EXPECT_EQ(shared.auxiliaryVersions, sharedBefore.auxiliaryVersions) << item;
    EXPECT_EQ(shared.displayLines, sharedBefore.displayLines) << item;
  }
}

TEST(MetadataBlock, ReadsItemsUpToTheFirstRecordAndStopsThere) {
  const std::string text =
      "remark {DeviceType = G3} more {FirmwareVersion = 123}\r\n"
      "{Bogus = 1}{HardwareVersionList = AA AB\n:00000001FF\n";
  FirmwareInfo info;
  SharedMetadata shared;
  bool saw = false;
  std::size_t pos = 0;
  ASSERT_TRUE(ParseMetadataBlock(text, &pos, info, shared, &saw));
  EXPECT_TRUE(saw);
  EXPECT_EQ(info.deviceType, "G3");
  EXPECT_EQ(info.firmwareVersion, "123");
  EXPECT_EQ(text[pos], ':');  // left at the record's colon
}

TEST(MetadataBlock, WithoutItemsOrColon) {
  FirmwareInfo info;
  SharedMetadata shared;
  bool saw = false;
  std::size_t pos = 0;
  ASSERT_TRUE(ParseMetadataBlock(":00000001FF", &pos, info, shared, &saw));
  EXPECT_FALSE(saw);
  EXPECT_EQ(pos, 0u);
  EXPECT_FALSE(ParseMetadataBlock("{DeviceType = G3}", &pos, info, shared, &saw));
}

}  // namespace
}  // namespace vel
