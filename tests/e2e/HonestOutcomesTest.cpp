// Paths that once reported success although the device did not receive the image: every one of
// them now ends failed (or leaves out what cannot be sent) against the simulated device.
#include "SampleGen.h"
#include "common/Strings.h"
#include "e2e/EndToEndSupport.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace vel::testing {
namespace {

const std::string kSample = std::string(ZANDOR_SAMPLES_DIR) + "/multi-unit.hex";

// The sample with one data digit of its 20th line changed, checksum left as it was.
std::string CorruptedSample(const TempDir& dir) {
  std::string text = ReadFile(kSample);
  std::size_t line = 0;
  for (int i = 0; i < 19; ++i) line = text.find('\n', line) + 1;
  text[line + 9] = text[line + 9] == '0' ? '1' : '0';
  WriteText(dir.File("corrupt.hex"), text);
  return dir.File("corrupt.hex");
}

class HonestOutcomes : public EndToEnd {};

TEST_F(HonestOutcomes, AFileThatFailsItsChecksumTestNeverReachesTheDevice) {
  TempDir dir;
  StartTcp();
  EXPECT_EQ(Update(CorruptedSample(dir)), ids::kFileFailsTest);
  const auto messages = op.Messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_NE(messages.back().find("Record 15 of image 0 (line 20) fails its checksum."),
            std::string::npos)
      << messages.back();
  server->Stop();
  EXPECT_EQ(server->Device().IdentificationsAnswered(), 0);
  EXPECT_TRUE(server->Device().IdleBytes().empty());
  // Reading the device still works with that file loaded.
  StartTcp();
  EXPECT_EQ(Check(CorruptedSample(dir)), 1);
}

TEST_F(HonestOutcomes, ARecordThatLostItsColonIsRefused) {
  TempDir dir;
  std::string text = ReadFile(kSample);
  const std::size_t record = text.find("\n:10") + 1;
  text.erase(record, 1);
  WriteText(dir.File("colonless.hex"), text);
  StartTcp();
  EXPECT_EQ(Update(dir.File("colonless.hex")), ids::kFileFailsTest);
  EXPECT_NE(op.Messages().back().find("holds hexadecimal digits without the ':'"),
            std::string::npos);
  server->Stop();
  EXPECT_TRUE(server->Device().IdleBytes().empty());
}

TEST_F(HonestOutcomes, DravikSectorsAfterPleaseUpdateAgainEndFailed) {
  Family("dravik");
  config.units[0].auxiliary = {"001", "099"};  // the sectors phase first
  config.faults.blockResults = {{3, 0xFD}};
  StartPty();
  EXPECT_EQ(Update("dravik-128k.hex"), ids::kUpdateFailed);
  EXPECT_TRUE(op.Shown("Please Update again!"));
  EXPECT_TRUE(op.Shown(LoadString(ids::kTransmissionTerminated)));
  server->Stop();
  // The rest of the sector was skipped; no checksum frame and no second phase followed.
  EXPECT_TRUE(server->Device().ChecksumsReceived().empty());
  EXPECT_EQ(server->Device().Programmed().size(), 1u);
}

TEST_F(HonestOutcomes, DataOnlyALinearAddressRecordReachesIsRefused) {
  // Segments 0 and 1 by extended linear address records: the extent stays in segment 0.
  samplegen::ImageSpec image;
  image.metadataItems = {"DeviceType = G4", "HardwareVersionList = ??"};
  image.segments = {0, 1};
  image.addressRecordType = 4;
  image.bytesPerSegment = 0x1000;
  TempDir dir;
  WriteText(dir.File("linear.hex"), samplegen::Generate({image}).text);
  StartTcp();
  EXPECT_EQ(Update(dir.File("linear.hex")), ids::kUpdateFailed);
  EXPECT_TRUE(
      op.Shown("Image 0 holds data in segment 01 at offset 0x0000 that this update would "
               "not send; nothing was sent."));
  server->Stop();
  EXPECT_EQ(server->Device().FramesReceived(), 0);
}

TEST_F(HonestOutcomes, AUnitThatNoImageFitsIsLeftOutAndTheOthersUpdated) {
  config.units = {Unit("G4 ", "A1", "100", 0), Unit("N8 ", "AC", "100", 1)};
  StartTcp();
  EXPECT_EQ(Update("multi-unit.hex"), ids::kUpdateSuccessful);
  EXPECT_EQ(doc->LeftOutUnits(), std::vector<int>{1});
  EXPECT_TRUE(display.Logged("Unit 1 (KestaS) is left out: no image of the file fits it."));
  const auto units = Programmed();
  ASSERT_EQ(units.size(), 1u);
  EXPECT_EQ(units[0].kindCode, 0);
  ExpectProgrammedImage(units[0], 0, {0, 1});
}

TEST_F(HonestOutcomes, ADeviceWhoseOnlyUnitNoImageFitsIsDeclined) {
  config.units = {Unit("G4 ", "Z9", "100")};  // the file lists hardware A1 and B2
  StartTcp();
  EXPECT_EQ(Update("multi-unit.hex"), ids::kUpdateFailed);
  EXPECT_TRUE(display.Logged(LoadString(ids::kNoUnitFits)));
  server->Stop();
  EXPECT_EQ(server->Device().FramesReceived(), 0);
  EXPECT_EQ(server->Device().IdentificationsAnswered(), 1);  // declined, not asked again
}

TEST_F(HonestOutcomes, ABlockThatKeepsFailingEndsTheTransfer) {
  Family("matrix");
  for (int n = 0; n < 30; ++n) config.faults.blockResults[n] = 0xF6;
  StartPty();
  EXPECT_EQ(Update("single-64k.hex"), ids::kUpdateFailed);
  EXPECT_TRUE(display.Logged(
      "Block 1 of segment FF failed 10 times in a row (last result F6); the transfer ends."));
  server->Stop();
  EXPECT_EQ(server->Device().EndOfBlocksReceived(), 10);
}

TEST_F(HonestOutcomes, AProgrammingErrorInSegmentZeroDoesNotRestartForever) {
  // F7 restarts the segment: block 0 of segment 0 fails every time.
  for (int n = 0; n < 30; ++n) config.faults.blockResults[n] = 0xF7;
  StartTcp();
  EXPECT_EQ(Update("multi-unit.hex"), ids::kUpdateFailed);
  EXPECT_TRUE(display.Logged(
      "Block 1 of segment 00 failed 10 times in a row (last result F7); the transfer ends."));
}

TEST_F(HonestOutcomes, ASecondFileInTheSameDocumentStartsFromACleanDevice) {
  Family("matrix");
  StartPty();
  CVelUpdateDoc& document = Doc("multi-unit.hex");  // a multi-unit family file first
  ASSERT_TRUE(document.OnOpenDocument(std::string(ZANDOR_SAMPLES_DIR) + "/single-64k.hex").ok());
  EXPECT_EQ(UpdateDevice(document, target, SerialSettings{}), ids::kUpdateSuccessful);
  ExpectProgrammedImage(Programmed().at(0), 0, {0xFF});  // the first procedure's segment
}

}  // namespace
}  // namespace vel::testing
