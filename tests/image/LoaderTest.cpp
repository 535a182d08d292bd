#include <gtest/gtest.h>

#include "common/Strings.h"
#include "image/HexFileLoader.h"
#include "support/RecordingProgress.h"

namespace vel {
namespace {

constexpr const char* kEnd = ":00000001FF\n";
constexpr const char* kData = ":0100000011EE\n";

LoadResult LoadText(FirmwareFile& file, const std::string& text, ProgressSink* progress = nullptr) {
  return HexFileLoader(file, progress).Load(text, "test.hex");
}

TEST(Loader, RecordsOnlyFile) {
  FirmwareFile file;
  ASSERT_TRUE(LoadText(file, std::string(kData) + kEnd).ok());
  EXPECT_EQ(file.ImageCount(), 1);
  EXPECT_FALSE(file.MetadataPresent());
  EXPECT_EQ(file.RecordCount(0), 2);
  EXPECT_EQ(file.Info(0).deviceType, "?");
  EXPECT_EQ(file.FileName(), "test.hex");
  EXPECT_TRUE(file.HasFile());
}

TEST(Loader, TwoImagesWithTheirOwnMetadataAndRemarksBetween) {
  FirmwareFile file;
  const std::string text = std::string("{DeviceType = G4} {AuxiliaryVersion = 1 A01}\n") + kData +
                           kData + kEnd + "\n  remarks here\n\n" +
                           "{DeviceType = NB}{FirmwareVersion = 201}{AuxiliaryVersion = 1 B02}\n" +
                           kData + kEnd + "trailing blank\n";
  ASSERT_TRUE(LoadText(file, text).ok());
  EXPECT_EQ(file.ImageCount(), 2);
  EXPECT_TRUE(file.MetadataPresent());
  EXPECT_EQ(file.Info(0).deviceType, "G4");
  EXPECT_EQ(file.Info(1).deviceType, "NB");
  EXPECT_EQ(file.Info(0).firmwareVersion, "?");
  EXPECT_EQ(file.Info(1).firmwareVersion, "201");
  EXPECT_EQ(file.Shared().auxiliaryVersions[0], "B02");  // later image wins
  EXPECT_EQ(file.RecordCount(0), 3);
  EXPECT_EQ(file.RecordCount(1), 2);
  EXPECT_FALSE(file.FirstTypeFlag());
  EXPECT_TRUE(file.SecondTypeFlag());
}

TEST(Loader, TwoImageRuleFamilies) {
  for (const char* type : {"TZT", "YPA", "YPB"}) {
    FirmwareFile file;
    const std::string text = std::string("{DeviceType = ") + type + "}\n" + kData + kEnd + "\n" +
                             kData + kData + kData + kEnd;
    ASSERT_TRUE(LoadText(file, text).ok()) << type;
    EXPECT_EQ(file.ImageCount(), 1);
    EXPECT_NE(file.Chain(1), nullptr);
    EXPECT_EQ(file.RecordCount(0), 4) << "slot 0 keeps the count of the chain read last";
  }
}

TEST(Loader, FirstTypeFlagFromG5) {
  FirmwareFile file;
  ASSERT_TRUE(LoadText(file, std::string("{DeviceType = G5X}") + kData + kEnd).ok());
  EXPECT_TRUE(file.FirstTypeFlag());
}

TEST(Loader, TruncatedFilesAreUnexpectedFormatAndKeepEarlierImages) {
  FirmwareFile file;
  EXPECT_EQ(LoadText(file, std::string(kData) + kData).status, LoadStatus::kUnexpectedFormat);
  EXPECT_EQ(LoadText(file, "").status, LoadStatus::kUnexpectedFormat);
  EXPECT_EQ(LoadText(file, "{DeviceType = G3}").status, LoadStatus::kUnexpectedFormat);
  const LoadResult partial = LoadText(file, std::string(kData) + kEnd + ":01000000");
  EXPECT_EQ(partial.status, LoadStatus::kUnexpectedFormat);
  EXPECT_EQ(file.ImageCount(), 1);
  EXPECT_NE(file.Chain(0), nullptr);
}

TEST(Loader, MoreThanTenImagesFailWithoutWritingPastTheSlots) {
  std::string text;
  for (int i = 0; i < 11; ++i) text += std::string(kData) + kEnd;
  FirmwareFile file;
  const LoadResult result = LoadText(file, text);
  EXPECT_EQ(result.status, LoadStatus::kUnexpectedFormat);
  EXPECT_EQ(file.ImageCount(), kImageSlots);
  std::string ten;
  for (int i = 0; i < 10; ++i) ten += std::string(kData) + kEnd;
  EXPECT_TRUE(LoadText(file, ten).ok());
  EXPECT_EQ(file.ImageCount(), 10);
}

TEST(Loader, SecondLoadForgetsTheFirstButKeepsHardwareListsAndDisplayLines) {
  FirmwareFile file;
  ASSERT_TRUE(
      LoadText(file, std::string("{DeviceType = G3}{HardwareVersionList = AA}{Display = 1 Boot}"
                                 "{AuxiliaryVersion = 1 A01}") +
                         kData + kEnd)
          .ok());
  file.GetMemMap(0);
  ASSERT_TRUE(LoadText(file, std::string(kData) + kEnd).ok());
  EXPECT_EQ(file.Info(0).deviceType, "?");
  EXPECT_EQ(file.Shared().auxiliaryVersions[0], "?");
  EXPECT_EQ(file.Info(0).hardwareVersions, std::vector<std::string>{"AA"});
  EXPECT_EQ(file.Shared().displayLines, std::vector<std::string>{"Boot: "});
  EXPECT_EQ(file.MemMap(0), nullptr);
}

TEST(Loader, ReportsProgressByFilePositionAndEndsItOnFailure) {
  FirmwareFile file;
  testing::RecordingProgress progress;
  std::string text;
  for (int i = 0; i < 100; ++i) text += kData;
  ASSERT_TRUE(LoadText(file, text + kEnd, &progress).ok());
  EXPECT_EQ(progress.log.front(), LoadString(ids::kLoadingHexFile));
  EXPECT_EQ(progress.lastHigh, static_cast<int>((text.size() + 12) / 8));
  EXPECT_EQ(progress.positions, 101);
  EXPECT_EQ(progress.lastPosition, static_cast<int>((text.size() + 11) / 8));
  EXPECT_EQ(file.TotalRecordsRead(), 101);
  EXPECT_FALSE(progress.active);
  EXPECT_FALSE(LoadText(file, text, &progress).ok());
  EXPECT_FALSE(progress.active);
}

TEST(Loader, MissingFileGivesTheSystemsReason) {
  FirmwareFile file;
  const LoadResult result = HexFileLoader(file).LoadPath("/nonexistent/dir/x.hex");
  EXPECT_EQ(result.status, LoadStatus::kCannotOpen);
  EXPECT_EQ(result.detail, "No such file or directory");
}

}  // namespace
}  // namespace vel
