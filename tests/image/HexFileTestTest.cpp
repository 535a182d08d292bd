#include <gtest/gtest.h>

#include "common/Strings.h"
#include "image/HexFileLoader.h"
#include "support/RecordingProgress.h"

namespace vel {
namespace {

FirmwareFile Loaded(const std::string& text) {
  FirmwareFile file;
  EXPECT_TRUE(HexFileLoader(file).Load(text, "t.hex").ok());
  return file;
}

const std::string kGood = ":0100000011EE\n:0100010022DC\n:00000001FF\n";

TEST(HexFileTest, VerdictsAndTheirMessages) {
  EXPECT_EQ(FirmwareFile().TestHexFile(nullptr), HexTestOutcome::kNoFile);
  EXPECT_EQ(Loaded(":00000001FF").TestHexFile(nullptr), HexTestOutcome::kPassed);
  EXPECT_EQ(Loaded(kGood).TestHexFile(nullptr), HexTestOutcome::kPassed);
  EXPECT_EQ(Loaded(":0100000012EE\n:00000001FF\n").TestHexFile(nullptr), HexTestOutcome::kFailed);
  EXPECT_EQ(Loaded(":0100000011EE\n:00000001FE\n").TestHexFile(nullptr), HexTestOutcome::kFailed);
  EXPECT_EQ(HexTestMessageIds(HexTestOutcome::kCancelled),
            (std::vector<int>{ids::kCancelledTest, ids::kTestFailed}));
  EXPECT_EQ(HexTestMessageIds(HexTestOutcome::kNoFile), std::vector<int>{ids::kTestNoFile});
}

TEST(HexFileTest, StopsAtTheFirstBadRecordAndEndsProgress) {
  testing::RecordingProgress progress;
  const FirmwareFile file = Loaded(":0100000011EE\n:0100010023DC\n:0100010022DC\n:00000001FF\n");
  EXPECT_EQ(file.TestHexFile(&progress), HexTestOutcome::kFailed);
  EXPECT_EQ(progress.steps, 1);
  EXPECT_FALSE(progress.active);
}

TEST(HexFileTest, StepsOncePerRecordOverTheRecordCount) {
  testing::RecordingProgress progress;
  EXPECT_EQ(Loaded(kGood).TestHexFile(&progress), HexTestOutcome::kPassed);
  EXPECT_EQ(progress.steps, 3);
  EXPECT_EQ(progress.lastHigh, 3);
  EXPECT_EQ(progress.log.front(), LoadString(ids::kTestingHexFile));
  EXPECT_EQ(progress.ends, 1);
}

TEST(HexFileTest, CancelIsNeverAPass) {
  for (int at : {1, 3}) {
    testing::RecordingProgress progress;
    progress.stepsBeforeCancel = at;
    EXPECT_EQ(Loaded(kGood).TestHexFile(&progress), HexTestOutcome::kCancelled) << at;
    EXPECT_FALSE(progress.active);
  }
}

TEST(HexFileTest, RunsSilentlyWhenProgressIsBusy) {
  testing::RecordingProgress progress;
  progress.refuseBegin = true;
  progress.cancel = true;  // not honoured without a progress operation of its own
  EXPECT_EQ(Loaded(kGood).TestHexFile(&progress), HexTestOutcome::kPassed);
  EXPECT_EQ(progress.steps, 0);
}

TEST(HexFileTest, ARecordThatLostItsColonFailsAndIsNamedByLine) {
  // Line 3 is a data record without its ':'; the loader skips it as text between records.
  const FirmwareFile file =
      Loaded(":0100000011EE\r\n; remark DEADBEEF\r\n0100010022DC\r\n:00000001FF\r\n");
  EXPECT_EQ(file.RecordCount(0), 2);
  EXPECT_EQ(file.TestHexFile(nullptr), HexTestOutcome::kFailed);
  const auto defect = file.FirstDefect();
  ASSERT_TRUE(defect);
  EXPECT_EQ(defect->kind, HexDefect::Kind::kMissingColon);
  EXPECT_EQ(defect->line, 3);
  EXPECT_EQ(DescribeDefect(*defect),
            "Line 3 holds hexadecimal digits without the ':' that starts a record.");
}

TEST(HexFileTest, OtherTextBetweenRecordsIsStillSkipped) {
  for (const std::string gap : {"\n\n", "  remark 0100010022DC\n", "DEADBEEF01\t x\n",
                                "123456789\n", "0A0B 0C0D0E0F10\n"}) {
    const FirmwareFile file = Loaded(":0100000011EE\n" + gap + ":00000001FF\n");
    EXPECT_EQ(file.TestHexFile(nullptr), HexTestOutcome::kPassed) << gap;
    EXPECT_FALSE(file.FirstDefect()) << gap;
  }
}

TEST(HexFileTest, AColonlessRecordAfterTheLastImageIsFoundToo) {
  const FirmwareFile file = Loaded(":0100000011EE\n:00000001FF\n0100010022DC");
  EXPECT_EQ(file.TestHexFile(nullptr), HexTestOutcome::kFailed);
  EXPECT_EQ(file.FirstDefect()->line, 3);
}

TEST(HexFileTest, EveryImageIsTestedAndTheEarliestDefectNamed) {
  const std::string image0 = "{DeviceType = G4}\n:0100000011EE\n:00000001FF\n";
  const std::string badImage1 = "{DeviceType = G4}\n:0100000011EE\n:0100010023DC\n:00000001FF\n";
  const FirmwareFile file = Loaded(image0 + badImage1);
  ASSERT_EQ(file.ImageCount(), 2);
  EXPECT_EQ(file.TestHexFile(nullptr), HexTestOutcome::kFailed);
  const auto defect = file.FirstDefect();
  ASSERT_TRUE(defect);
  EXPECT_EQ(defect->kind, HexDefect::Kind::kChecksum);
  EXPECT_EQ(defect->slot, 1);
  EXPECT_EQ(defect->record, 2);
  EXPECT_EQ(defect->line, 6);
  EXPECT_EQ(DescribeDefect(*defect), "Record 2 of image 1 (line 6) fails its checksum.");
  EXPECT_FALSE(Loaded(image0 + image0).FirstDefect());
}

}  // namespace
}  // namespace vel
