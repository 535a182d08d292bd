// Loads of one firmware file shared by several documents: one load while the file on disk stays
// the same, a new one as soon as it changes, each memory map built once for all readers, and
// what one document writes into its map kept from every other reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "SampleGen.h"
#include "image/SharedFirmware.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace vel {
namespace {

using testing::TempDir;
using testing::WriteText;

// An image of two small segments at the top of memory, where the 128 KiB procedure writes the
// serial number; the seed gives its bytes.
samplegen::GeneratedFile TopSegments(std::uint32_t seed, std::size_t bytes = 0x100) {
  samplegen::ImageSpec image;
  image.metadataItems = {"DeviceType = \"N8 \""};
  image.segments = {254, 255};
  image.bytesPerSegment = bytes;
  image.seed = seed;
  return samplegen::Generate({image});
}

bool HoldsBytes(const VelMemMap& map, int segment, const std::vector<std::uint8_t>& expected) {
  const VelSegment* held = map.Segment(static_cast<std::uint8_t>(segment));
  return held != nullptr && std::equal(expected.begin(), expected.end(), held->bytes.begin());
}

class SharedLoads : public ::testing::Test {
 protected:
  std::shared_ptr<const LoadedFirmware> Load() {
    std::shared_ptr<const LoadedFirmware> loaded;
    EXPECT_TRUE(loads.Load(path, nullptr, &loaded).ok());
    return loaded;
  }

  TempDir dir;
  const std::string path = dir.File("firmware.hex");
  SharedFirmware loads;
};

TEST_F(SharedLoads, AnUnchangedFileIsLoadedOnceForEveryDocument) {
  WriteText(path, TopSegments(1).text);
  const auto first = Load();
  EXPECT_EQ(Load(), first);
  EXPECT_EQ(Load(), first);
  EXPECT_EQ(loads.Loads(), 1);
  EXPECT_EQ(loads.Reuses(), 2);
}

TEST_F(SharedLoads, AChangedFileIsLoadedAgainInItsNewState) {
  const auto one = TopSegments(1), two = TopSegments(2), longer = TopSegments(3, 0x200);
  ASSERT_EQ(one.text.size(), two.text.size());
  WriteText(path, one.text);
  const auto first = Load();
  // Rewritten in place right away, to the same length: its times may not have moved.
  WriteText(path, two.text);
  const auto second = Load();
  ASSERT_NE(second, first);
  EXPECT_TRUE(HoldsBytes(*second->Map(0, false, nullptr), 254, two.expected[0].at(254)));
  // Replaced by another file of another length.
  WriteText(path + ".new", longer.text);
  ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
  const auto third = Load();
  ASSERT_NE(third, second);
  EXPECT_TRUE(HoldsBytes(*third->Map(0, false, nullptr), 255, longer.expected[0].at(255)));
  EXPECT_EQ(loads.Loads(), 3);
  // A document still holding an earlier load reads it as it was.
  EXPECT_EQ(first->Text(), one.text);
  EXPECT_TRUE(HoldsBytes(*first->Map(0, false, nullptr), 254, one.expected[0].at(254)));
}

TEST_F(SharedLoads, AFileThatDoesNotLoadIsNeverShared) {
  WriteText(path, ":0100000011EE\n:00000001FF\n:01000000");  // the second image breaks off
  std::shared_ptr<const LoadedFirmware> loaded;
  EXPECT_EQ(loads.Load(path, nullptr, &loaded).status, LoadStatus::kUnexpectedFormat);
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded->ImageCount(), 1);  // the image read before the fault
  EXPECT_EQ(loads.Load(path, nullptr, &loaded).status, LoadStatus::kUnexpectedFormat);
  EXPECT_EQ(loads.Loads(), 2);
  std::remove(path.c_str());
  EXPECT_EQ(loads.Load(path, nullptr, &loaded).status, LoadStatus::kCannotOpen);
  EXPECT_EQ(loaded, nullptr);
  WriteText(path, TopSegments(1).text);
  EXPECT_TRUE(Load()->HasFile());
}

TEST_F(SharedLoads, DocumentsSideBySideShareOneLoadAndOneMapPerKindOfDevice) {
  WriteText(path, TopSegments(1, 0x10000).text);
  constexpr int kDocuments = 4;
  std::vector<FirmwareFile> files(kDocuments);
  std::vector<std::thread> threads;
  for (int d = 0; d < kDocuments; ++d) {
    threads.emplace_back([this, &files, d] {
      std::shared_ptr<const LoadedFirmware> loaded;
      if (!loads.Load(path, nullptr, &loaded).ok()) return;
      files[d].Adopt(std::move(loaded));
      files[d].GetMemMap(0, nullptr, d % 2 == 1);  // odd documents serve a JQH device
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(loads.Loads(), 1);
  EXPECT_EQ(loads.Reuses(), kDocuments - 1);
  for (int d = 0; d < kDocuments; ++d) {
    ASSERT_NE(files[d].MemMap(0), nullptr);
    EXPECT_EQ(files[d].Loaded(), files[0].Loaded());
    // The same segments in memory: one map built for each kind of device.
    EXPECT_EQ(files[d].MemMap(0)->Segment(254), files[d % 2].MemMap(0)->Segment(254));
  }
  EXPECT_NE(files[0].MemMap(0)->Segment(254), files[1].MemMap(0)->Segment(254));
  EXPECT_EQ(files[1].MemMap(0)->TopSegment(), 255);
}

TEST(DocumentMaps, WhatOneDocumentWritesStaysInItsOwnMap) {
  const auto generated = TopSegments(1, 0x10000);
  HexFileLoader loader;
  ASSERT_TRUE(loader.Load(generated.text, "t.hex").ok());
  FirmwareFile a, b;
  a.Adopt(loader.Loaded());
  b.Adopt(loader.Loaded());
  a.GetMemMap(0);
  b.GetMemMap(0);
  const std::string serialA = "SERIAL-NUMBER-A1", serialB = "SERIAL-NUMBER-B2";
  const auto write = [](FirmwareFile& file, const std::string& serial) {
    return file.MutableMemMap(0)->Write(
        254, 0, reinterpret_cast<const std::uint8_t*>(serial.data()), serial.size());
  };
  ASSERT_TRUE(write(a, serialA));
  ASSERT_TRUE(write(b, serialB));
  const auto page = [](const VelMemMap& map) {
    return std::string(reinterpret_cast<const char*>(map.GetPage(254, 0)), 16);
  };
  EXPECT_EQ(page(*a.MemMap(0)), serialA);
  EXPECT_EQ(page(*b.MemMap(0)), serialB);
  // The load, and a document that comes to it later, still read the file's bytes.
  FirmwareFile later;
  later.Adopt(loader.Loaded());
  EXPECT_TRUE(HoldsBytes(later.GetMemMap(0), 254, generated.expected[0].at(254)));
  EXPECT_TRUE(
      HoldsBytes(*loader.Loaded()->Map(0, false, nullptr), 254, generated.expected[0].at(254)));
  // Beyond the serial number nothing differs, and the segment nobody wrote stays shared.
  const auto& expected = generated.expected[0].at(254);
  for (const FirmwareFile* file : {&a, &b}) {
    const auto& bytes = file->MemMap(0)->Segment(254)->bytes;
    EXPECT_TRUE(std::equal(expected.begin() + 16, expected.end(), bytes.begin() + 16));
    EXPECT_EQ(file->MemMap(0)->Segment(255), later.MemMap(0)->Segment(255));
  }
}

}  // namespace
}  // namespace vel
