// The checksum frame of the 128-byte and Dravik procedures carries the sum of every record frame
// sent, resends and repeated blocks included; the simulated device sums what it accepts in the
// same way, so lost and corrupted acknowledgements end in a confirmed checksum.
#include "common/Strings.h"
#include "e2e/EndToEndSupport.h"

namespace vel::testing {
namespace {

// The data bytes of `bytes` records of 16 from `offset` of a segment.
std::uint32_t DataSum(const VelSegment& segment, std::size_t offset, std::size_t bytes) {
  std::uint32_t sum = 0;
  for (std::size_t i = offset; i < offset + bytes; ++i) sum += segment.bytes[i];
  return sum;
}

class ChecksumFrame : public EndToEnd {};

TEST_F(ChecksumFrame, SixteenBitsOverEveryRecordSentWithAResendAndARepeatedBlock) {
  Family("dravik-ypk");
  // Frames of block 0: block-ID 0, records 1-8, end of block 9. Record 4's answer is lost (it
  // goes again); block 2 fails once (it goes again whole).
  config.faults.lostAckOfFrames = {5};
  config.faults.blockResults = {{2, 0xF6}};
  StartPty();
  ASSERT_EQ(Update("dravik-ypk.hex"), ids::kUpdateSuccessful);
  const VelSegment& image = *doc->File().MemMap(0)->Segment(0xFF);
  const std::uint32_t expected =
      DataSum(image, 0, 64 * 128) + DataSum(image, 4 * 16, 16) + DataSum(image, 2 * 128, 128);
  server->Stop();
  EXPECT_EQ(server->Device().ChecksumsReceived(),
            std::vector<int>{static_cast<int>(expected & 0xFFFF)});
}

TEST_F(ChecksumFrame, EightBitsOverTheDravikSectorsWithAResendAndARepeatedBlock) {
  Family("dravik");
  config.units[0].auxiliary = {"001", "099"};
  config.faults.lostAckOfFrames = {3};       // record 2 of sector 0, block 0
  config.faults.blockResults = {{1, 0xF8}};  // sector 0, block 1 again
  StartPty();
  ASSERT_EQ(Update("dravik-128k.hex"), ids::kUpdateSuccessful);
  const VelMemMap& sectors = *doc->File().MemMap(1);
  std::uint32_t expected =
      DataSum(*sectors.Segment(0), 2 * 16, 16) + DataSum(*sectors.Segment(0), 1024, 1024);
  for (int s = 0; s < 6; ++s) expected += DataSum(*sectors.Segment(s), 0, kSegmentSize);
  const auto units = Programmed();
  EXPECT_EQ(server->Device().ChecksumsReceived(),
            std::vector<int>{static_cast<int>(expected & 0xFF)});
  ASSERT_EQ(units.size(), 2u);
  ExpectProgrammedImage(units[0], 1, {0, 1, 2, 3, 4, 5});
  ExpectProgrammedImage(units[1], 0, {254, 255}, true);
}

class DravikLostAcks : public EndToEnd,
                       public ::testing::WithParamInterface<std::pair<double, unsigned>> {};

TEST_P(DravikLostAcks, UpdatesWithExactBytes) {
  const auto [lost, seed] = GetParam();
  Family("dravik");
  config.units[0].auxiliary = {"001", "099"};  // sectors, checksum frame, then the image
  config.faults.lostAck = lost;
  config.faults.seed = seed;
  StartPty();
  CVelUpdateDoc& document = Doc("dravik-128k.hex");
  document.Link().Serial().SetTimeouts(20, 1000);
  EXPECT_EQ(UpdateDevice(document, target, SerialSettings{}), ids::kUpdateSuccessful);
  const auto units = Programmed();
  EXPECT_GT(server->Device().FaultsInjected(), 0);
  ASSERT_EQ(units.size(), 2u);
  ExpectProgrammedImage(units[0], 1, {0, 1, 2, 3, 4, 5});
  ExpectProgrammedImage(units[1], 0, {254, 255}, true);
}

INSTANTIATE_TEST_SUITE_P(Seeds, DravikLostAcks,
                         ::testing::Values(std::pair{0.002, 4u}, std::pair{0.002, 6u},
                                           std::pair{0.03, 4u}));

TEST_F(ChecksumFrame, ARecordThatReachedTheDeviceDamagedStillFailsTheUpdate) {
  Family("dravik-ypk");
  config.faults.corruptFrame = 0.01;
  config.faults.seed = 3;
  StartPty();
  EXPECT_EQ(Update("dravik-ypk.hex"), ids::kUpdateFailed);
  EXPECT_TRUE(op.Shown("Telvik Programming Fail"));
  server->Stop();
  EXPECT_GT(server->Device().FaultsInjected(), 0);
}

TEST_F(ChecksumFrame, TheSectorPhaseWaitsForTheDevicesYesAlone) {
  Family("dravik");
  config.units[0].auxiliary = {"001", "099"};
  config.faults.rejectChecksum = true;  // answers 0xFE, which ends only the other waits
  StartPty();
  CVelUpdateDoc& document = Doc("dravik-128k.hex");
  document.Timing().sectorChecksumWaitSeconds = 1;
  EXPECT_EQ(UpdateDevice(document, target, SerialSettings{}), ids::kUpdateFailed);
  EXPECT_TRUE(op.Shown("Telvik Programming Fail"));
  EXPECT_TRUE(display.Logged("Waiting check checksum: 1 s"));
  EXPECT_EQ(Programmed().size(), 1u);  // no second phase without 0xFA
}

}  // namespace
}  // namespace vel::testing
