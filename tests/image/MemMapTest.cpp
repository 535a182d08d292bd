#include <gtest/gtest.h>

#include <numeric>

#include "image/HexFileLoader.h"
#include "image/VelMemMap.h"

namespace vel {
namespace {

// The text loaded as a file; its first image's chain is what the maps are built from.
std::unique_ptr<FirmwareFile> Chain(const std::string& text) {
  auto file = std::make_unique<FirmwareFile>();
  EXPECT_TRUE(HexFileLoader(*file).Load(text, "t.hex").ok());
  return file;
}

std::string Line(const VelHexRec& rec) { return rec.FormatLine(); }

TEST(MemMap, DataBeforeAnyAddressRecordGoToSegment255) {
  const auto chain = Chain(Line(VelHexRec(0x0000, "0102")) + ":00000001FF\n");
  const VelMemMap map(chain->Chain(0));
  EXPECT_EQ(map.FirstSegment(), 255);
  const std::uint8_t* page = map.GetPage(255, 0);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page[0], 0x01);
  EXPECT_EQ(page[1], 0x02);
  const VelSegment* seg = map.Segment(255);
  EXPECT_EQ(std::count(seg->bytes.begin(), seg->bytes.end(), 0xFF), 0x10000 - 2);
  EXPECT_EQ(map.GetPage(0, 0), nullptr);
}

TEST(MemMap, SegmentAndLinearAddressRecords) {
  const auto chain = Chain(
      Line(VelHexRec::AddressRecord(2, 0x2000)) + Line(VelHexRec(0x0100, "AA")) +
      Line(VelHexRec::AddressRecord(4, 0x0003)) + Line(VelHexRec(0x0200, "BB")) + ":00000001FF\n");
  const VelMemMap map(chain->Chain(0));
  EXPECT_EQ(map.GetPage(2, 1)[0], 0xAA);
  EXPECT_EQ(map.GetPage(3, 2)[0], 0xBB);
  EXPECT_EQ(map.TopSegment(), 2);
  EXPECT_EQ(map.TopAddress(), 0x0100);
  EXPECT_EQ(map.FirstSegment(), 2);
  EXPECT_EQ(map.RecordExtent(), 2 * 4096 + 0x10 + 1);
}

TEST(MemMap, DataWrapWithinTheSegmentAndHighAddressesDoNotRaiseTheTop) {
  const auto chain =
      Chain(Line(VelHexRec::AddressRecord(2, 0x1000)) + Line(VelHexRec(0xFFFE, "01020304")) +
            Line(VelHexRec(0x0400, "05")) + Line(VelHexRec(0xFC00, "06")) + ":00000001FF\n");
  const VelMemMap map(chain->Chain(0));
  EXPECT_EQ(map.GetPage(1, 0xFF)[0xFE], 0x01);
  EXPECT_EQ(map.GetPage(1, 0xFF)[0xFF], 0x02);
  EXPECT_EQ(map.GetPage(1, 0)[0], 0x03);
  EXPECT_EQ(map.GetPage(1, 0)[1], 0x04);
  EXPECT_EQ(map.GetPage(2, 0), nullptr);
  EXPECT_EQ(map.TopAddress(), 0x0400);
}

TEST(MemMap, LaterRecordsOverwriteAndBadPiecesStoreTheErasedValue) {
  const auto chain = Chain(":0200000011229B\n:020000003344B7\n:02001000ZZ55E4\n:00000001FF\n");
  const VelMemMap map(chain->Chain(0));
  EXPECT_EQ(map.GetPage(255, 0)[0], 0x33);
  EXPECT_EQ(map.GetPage(255, 0)[1], 0x44);
  EXPECT_EQ(map.GetPage(255, 0)[0x10], 0xFF);
  EXPECT_EQ(map.GetPage(255, 0)[0x11], 0x55);
}

TEST(MemMap, TopSegmentStartsHighForTheHubFamily) {
  const auto chain = Chain(Line(VelHexRec::AddressRecord(2, 0x1000)) +
                           Line(VelHexRec(0x0100, "AA")) + ":00000001FF\n");
  EXPECT_EQ(VelMemMap(chain->Chain(0), true).TopSegment(), 255);
  EXPECT_EQ(VelMemMap(chain->Chain(0), false).TopSegment(), 1);
}

TEST(MemMap, RecordPackets) {
  std::string data;
  for (int i = 0; i < 256; ++i) {
    char b[3];
    std::snprintf(b, sizeof b, "%02X", i);
    data += b;
  }
  std::string text = Line(VelHexRec::AddressRecord(4, 0x0000));
  for (int off = 0; off < 0x400; off += 16) {
    text += Line(VelHexRec(static_cast<std::uint16_t>(off), data.substr((off % 256) * 2, 32)));
  }
  const auto chain = Chain(text + ":00000001FF\n");
  const VelMemMap map(chain->Chain(0));
  std::uint8_t packet[21];
  map.MakeRecordPacket(0, 0, 1, 2, packet, {});
  EXPECT_EQ(packet[0], 0x10);
  EXPECT_EQ(packet[1], 0x01);
  EXPECT_EQ(packet[2], 0x20);
  EXPECT_EQ(packet[3], 0x00);
  EXPECT_EQ(packet[4], 0x20);  // byte at offset 0x0120
  EXPECT_EQ(packet[19], 0x2F);
  EXPECT_EQ(std::accumulate(packet, packet + 21, 0u) % 256, 0u);

  map.MakeRecordPacket(0, 3, 1, 0, packet, {.blocks128 = true});
  EXPECT_EQ(packet[1], 1);    // block >> 1
  EXPECT_EQ(packet[2], 128);  // 128 * 3 mod 256
  EXPECT_EQ(packet[4], (128 * 3) % 256);
  map.MakeRecordPacket(0, 0, 3, 0, packet, {.pageOnlyAddress = true, .fourPageBlocks = true});
  EXPECT_EQ(packet[1], 3);
  map.MakeRecordPacket(0, 1, 2, 0, packet, {.fourPageBlocks = true, .blockRelativeFourPage = true});
  EXPECT_EQ(packet[1], 6);

  std::uint8_t untouched[21];
  std::fill(std::begin(untouched), std::end(untouched), 0x5A);
  map.MakeRecordPacket(9, 0, 0, 0, untouched, {});
  EXPECT_EQ(untouched[3], 0xFF);
  EXPECT_EQ(untouched[0], 0x5A);
}

}  // namespace
}  // namespace vel
