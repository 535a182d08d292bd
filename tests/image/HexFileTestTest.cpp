#include <gtest/gtest.h>

#include <filesystem>

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

std::string Line(const VelHexRec& record) { return record.FormatLine(); }

// Records a device should never get: the test fails them by record and line, and so an update
// refuses them.
TEST(HexFileTest, RefusesRecordsADeviceShouldNeverGet) {
  struct Case {
    std::string text;
    HexDefect::Kind kind;
    std::string description;
  };
  const std::string end = ":00000001FF\n";
  const std::string sixteen = "00112233445566778899AABBCCDDEEFF";
  const Case cases[] = {
      {":0100000011EE\n:0100000022DD\n" + end, HexDefect::Kind::kOverlap,
       "Record 2 of image 0 (line 2) gives other data to segment FF at offset 0x0000, which an "
       "earlier record of the image filled."},
      {":020000040001F9\n:0100000011EE\n:020000040002F8\n:0100000022DD\n" +
           Line(VelHexRec::AddressRecord(4, 1)) + ":0100000012ED\n" + end,
       HexDefect::Kind::kOverlap,
       "Record 6 of image 0 (line 6) gives other data to segment 01 at offset 0x0000, which an "
       "earlier record of the image filled."},
      {Line(VelHexRec(0xFFF8, sixteen)) + end, HexDefect::Kind::kWrapsSegment,
       "Record 1 of image 0 (line 1) runs past the end of its 64 KiB segment."},
      {":0100000011EE junk\n" + end, HexDefect::Kind::kTrailingText,
       "Record 1 of image 0 (line 1) is followed by other characters on its line."},
      {":0100000011EE00\r\n" + end, HexDefect::Kind::kTrailingText,
       "Record 1 of image 0 (line 1) is followed by other characters on its line."},
      {":0100000011EE:00000001FF\n", HexDefect::Kind::kTrailingText,
       "Record 1 of image 0 (line 1) is followed by other characters on its line."},
      {":0100000011EE\n:00000006FA\n" + end, HexDefect::Kind::kUnknownType,
       "Record 2 of image 0 (line 2) has record type 06, which Intel HEX does not have."},
      // An end record in the middle of a file with metadata: what follows would go nowhere.
      {"{DeviceType = G4}\n:0100000011EE\n" + end + ":0100010022DC\n" + end,
       HexDefect::Kind::kNoMetadata,
       "Image 1 (from line 4) carries no metadata, unlike the file's other images: no unit would "
       "take it (an end record in the middle of the file?)."},
  };
  for (const Case& c : cases) {
    const FirmwareFile file = Loaded(c.text);
    EXPECT_EQ(file.TestHexFile(nullptr), HexTestOutcome::kFailed) << c.text;
    testing::RecordingProgress progress;
    EXPECT_EQ(file.TestHexFile(&progress), HexTestOutcome::kFailed) << c.text;
    EXPECT_FALSE(progress.active);
    const auto defect = file.FirstDefect();
    ASSERT_TRUE(defect) << c.text;
    EXPECT_EQ(defect->kind, c.kind) << c.text;
    EXPECT_EQ(DescribeDefect(*defect), c.description) << c.text;
  }
}

TEST(HexFileTest, SoundFilesStillPass) {
  const std::string sound[] = {
      // The same data twice at one address, a record ending at the top of its segment, the
      // start address records, blanks and CR LF after records, text on lines of its own.
      ":0100000011EE\r\n:0100000011EE \t\r\n" + Line(VelHexRec(0xFFF0, std::string(32, 'A'))) +
          ":0400000300003800C1\n:04000005000000CD2A\n; remark\n:00000001FF",
      // Data at one offset of two different segments.
      ":020000040001F9\n:0100000011EE\n:020000040002F8\n:0100000022DD\n:00000001FF\n",
      // A file that ends with the old end-of-file character.
      ":0100000011EE\n:00000001FF\n\x1a",
      // Two images and no metadata anywhere: nothing tells one apart from the other.
      ":0100000011EE\n:00000001FF\n:0100010022DC\n:00000001FF\n",
  };
  for (const std::string& text : sound) {
    const FirmwareFile file = Loaded(text);
    EXPECT_EQ(file.TestHexFile(nullptr), HexTestOutcome::kPassed) << text;
    EXPECT_FALSE(file.FirstDefect()) << text;
  }
  for (const auto& sample : std::filesystem::directory_iterator(ZANDOR_SAMPLES_DIR)) {
    FirmwareFile file;
    ASSERT_TRUE(HexFileLoader(file).LoadPath(sample.path().string()).ok());
    EXPECT_EQ(file.TestHexFile(nullptr), HexTestOutcome::kPassed) << sample.path();
  }
}

}  // namespace
}  // namespace vel
