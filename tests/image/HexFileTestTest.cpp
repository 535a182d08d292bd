#include <gtest/gtest.h>

#include "common/ByteStream.h"
#include "common/Strings.h"
#include "image/HexFileLoader.h"
#include "support/RecordingProgress.h"

namespace vel {
namespace {

FirmwareFile Loaded(const std::string& text) {
  FirmwareFile file;
  MemoryByteStream in(text);
  EXPECT_TRUE(HexFileLoader(file).Load(in, "t.hex").ok());
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

}  // namespace
}  // namespace vel
