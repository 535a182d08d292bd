#include <gtest/gtest.h>

#include "common/Strings.h"
#include "engine/DeviceTypes.h"
#include "image/VersionText.h"

namespace vel {
namespace {

TEST(DeviceTypes, DisplayNamesByThreeOrTwoCharacters) {
  EXPECT_EQ(DisplayName("G3 "), "Zandor Matrix");
  EXPECT_EQ(DisplayName("G3"), "Zandor Kesta");
  EXPECT_EQ(DisplayName("G3x"), "Zandor Kesta");
  EXPECT_EQ(DisplayName("H6 "), "Zandor User Station");
  EXPECT_EQ(DisplayName("G5A"), "KestaHWIII");
  EXPECT_EQ(DisplayName("G6"), "KestaHWIII");
  EXPECT_EQ(DisplayName("RLT"), "Pelm User Station");
  EXPECT_EQ(DisplayName("NB1"), "KestaS+Loader");
  EXPECT_EQ(DisplayName("YPD"), "Dravik-LWN");
  EXPECT_EQ(DisplayName("Q7a"), "Kelmori Orbex(Type A)");
  EXPECT_EQ(DisplayName("Q7A"), "<Unknown>");
  EXPECT_EQ(DisplayName("?"), "<Unknown>");
  EXPECT_EQ(DisplayName(""), "<Unknown>");
  EXPECT_EQ(DisplayName("G"), "<Unknown>");
}

TEST(DeviceTypes, CaptionsAndTheMultiUnitFamily) {
  for (const char* code : {"LWN", "G4", "G5x", "G6", "XXX"}) {
    const DeviceCaption c = DeviceTypeCaption(code);
    EXPECT_EQ(c.caption, "Send To Zandor") << code;
    EXPECT_TRUE(c.multiUnitFamily) << code;
  }
  for (const char* code : {"G3 ", "G3", "H2", "JQH", "DNK"}) {
    EXPECT_FALSE(DeviceTypeCaption(code).multiUnitFamily) << code;
    EXPECT_EQ(DeviceTypeCaption(code).caption, "Send To Zandor") << code;
  }
  EXPECT_EQ(DeviceTypeCaption("TZT").caption, "Kesta4080");
  EXPECT_EQ(DeviceTypeCaption("W4p").caption, "Partner Orbex(Type P)");
  EXPECT_EQ(DeviceTypeCaption("N8").caption, "Kelmori Vantrel");
  EXPECT_EQ(DeviceTypeCaption("?").caption, "Kelmori Vantrel");
}

TEST(VersionText, FirmwareVersions) {
  EXPECT_EQ(FormatFirmwareVersion("123"), "1.23");
  EXPECT_EQ(FormatFirmwareVersion("?"), "<Unknown>");
  EXPECT_EQ(FormatFirmwareVersion("1A3"), "1A3");
  EXPECT_EQ(FormatFirmwareVersion("A 3"), "A. 3");  // a blank is below '9'
  EXPECT_EQ(FormatFirmwareVersion("12"), "1.2");
}

TEST(VersionText, HardwareLists) {
  EXPECT_EQ(FormatHardwareList({}), "");
  EXPECT_EQ(FormatHardwareList({"AA"}), "AA ");
  EXPECT_EQ(FormatHardwareList({"AA", "AB"}), "AA, AB ");
  EXPECT_EQ(FormatHardwareList({"A", "B", "C", "D", "E"}), "A, B, C, D, E ...");
  EXPECT_EQ(FormatHardwareList({"A", "B", "C", "D", "E", "F"}), "A, B, C, D, E, ...");
  EXPECT_EQ(FormatHardwareList({"??"}), "<N/A> ");
  EXPECT_EQ(FormatHardwareList({"??", "A", "B"}), "<N/A>, A, B ");
  EXPECT_EQ(FormatHardwareList({"??", "A", "B", "C", "D"}), "<N/A>, A, B, C, ...");
}

TEST(Strings, UnknownIdsGiveTheLoadError) {
  EXPECT_EQ(LoadString(ids::kUnexpectedFileFormat), "Unexpected file format.");
  EXPECT_EQ(LoadString(123456), "Resource String Load Error");
  EXPECT_NE(LoadString(ids::kTestNoFile).find("\\\"File-Open...\\\""), std::string::npos);
}

}  // namespace
}  // namespace vel
