#include <gtest/gtest.h>

#include <numeric>

#include "engine/Protocol.h"
#include "image/VelHexFile.h"
#include "image/VelMemMap.h"

namespace vel {
namespace {

using Bytes = std::vector<std::uint8_t>;

template <std::size_t N>
Bytes ToBytes(const std::array<std::uint8_t, N>& a) {
  return Bytes(a.begin(), a.end());
}

TEST(Frames, BlockIdFramesOfTheFirstProcedure) {
  EXPECT_EQ(ToBytes(protocol::PageRangeBlockId(0, 63)),
            (Bytes{0x02, 0x00, 0x00, 0x04, 0x3F, 0xFF, 0xBC}));
  EXPECT_EQ(ToBytes(protocol::PageRangeBlockId(64, 127)),
            (Bytes{0x02, 0x40, 0x00, 0x04, 0x7F, 0xFF, 0x3C}));
  EXPECT_EQ(ToBytes(protocol::SegmentBlockId(1)),
            (Bytes{0x02, 0x00, 0x00, 0x04, 0x00, 0x01, 0xF9}));
}

TEST(Frames, ChecksumAndUnitSelectFrames) {
  EXPECT_EQ(ToBytes(protocol::ChecksumFrame(0x1234)), (Bytes{0x00, 0x12, 0x34, 0x06, 0xB4}));
  const std::uint8_t serial[16] = {'A', 'B', 'C', 'D', 'E', 'F'};
  const auto frame = protocol::UnitSelectFrame(serial, 0x02, 0x30);
  EXPECT_EQ(frame[0], 0xE7);
  EXPECT_EQ(frame[1], 0x0C);
  EXPECT_EQ(frame[8], 'E');
  EXPECT_EQ(frame[9], 0x02);
  EXPECT_EQ(frame[10], 0x30);
  EXPECT_EQ(std::accumulate(frame.begin() + 2, frame.end(), 0u) % 256, 0u);
}

TEST(Frames, RecordFrameFromTheMemoryMap) {
  // Bytes 00..0F at address 0x0010 of segment 0.
  const std::string text = ":020000040000FA\n" +
                           VelHexRec(0x0010, "000102030405060708090A0B0C0D0E0F").FormatLine() +
                           ":00000001FF\n";
  RecordChain chain;
  std::size_t pos = 0;
  LineCounter lines(text);
  ASSERT_TRUE(chain.Read(text, &pos, lines));
  const VelMemMap map(chain.Head());
  std::uint8_t packet[21];
  map.MakeRecordPacket(0, 0, 0, 1, packet, {.pageOnlyAddress = true});
  EXPECT_EQ(Bytes(packet, packet + 4), (Bytes{0x10, 0x00, 0x10, 0x00}));
  EXPECT_EQ(packet[4], 0x00);
  EXPECT_EQ(packet[19], 0x0F);
  EXPECT_EQ(packet[20], 0x68);
}

}  // namespace
}  // namespace vel
