#include <gtest/gtest.h>

#include "common/Strings.h"
#include "families/DeviceTypes.h"
#include "families/Families.h"
#include "engine/TransferProcedure.h"
#include "image/VersionText.h"

namespace vel {
namespace {

TEST(FamilyTable, EveryRowCanBeReachedByItsOwnCode) {
  // The first matching row wins, so a row placed after a shorter row with the same beginning
  // would never be found.
  for (const Family& family : AllFamilies()) {
    EXPECT_EQ(FamilyOf(family.code).code, family.code) << family.code;
  }
}

TEST(FamilyTable, EveryProcedureTheFamiliesNameIsInTheProcedureTableUnderItsName) {
  const auto procedures = AllProcedures();
  for (std::size_t i = 0; i < procedures.size(); ++i) {
    const TransferProcedure& procedure = *procedures[i];
    EXPECT_EQ(static_cast<std::size_t>(procedure.name), i);
    EXPECT_EQ(&ProcedureOf(procedure.name), &procedure) << i;
    EXPECT_FALSE(procedure.progressText.empty()) << i;
    EXPECT_NE(procedure.phases, nullptr) << i;
    EXPECT_NE(procedure.run, nullptr) << i;
  }
  const auto listed = [&](Procedure name) {
    return static_cast<std::size_t>(name) < procedures.size();
  };
  for (const Family& family : AllFamilies()) {
    for (const Choice& choice : {family.small, family.large}) {
      EXPECT_TRUE(listed(choice.procedure)) << family.code;
      EXPECT_TRUE(listed(choice.otherAuxiliaryVersion)) << family.code;
    }
    EXPECT_TRUE(listed(family.started)) << family.code;
  }
}

TEST(FamilyTable, ACodeIsToldByAsManyCharactersAsItsFamilyCompares) {
  // Two-character families take any third character unless a three-character family claims it.
  EXPECT_EQ(DisplayName("G3x"), DisplayName("G3"));
  EXPECT_NE(DisplayName("G3 "), DisplayName("G3"));
  EXPECT_EQ(DisplayName("G5A"), DisplayName("G5"));
  EXPECT_EQ(DisplayName("NB1"), DisplayName("NB"));
  // Three characters are compared as they are, upper and lower case apart.
  EXPECT_NE(DisplayName("Q7a"), "<Unknown>");
  for (const char* unknown : {"Q7A", "?", "", "G", "Y"}) {
    EXPECT_EQ(DisplayName(unknown), "<Unknown>") << unknown;
  }
  // A file's caption and family come from the same row.
  for (const Family& family : AllFamilies()) {
    EXPECT_EQ(DeviceTypeCaption(family.code).multiUnitFamily, family.multiUnitFile) << family.code;
  }
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
  EXPECT_EQ(LoadString(123456), "Resource String Load Error");
  EXPECT_NE(LoadString(ids::kTestNoFile).find("\\\"File-Open...\\\""), std::string::npos);
}

}  // namespace
}  // namespace vel
