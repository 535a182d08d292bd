#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "Cli.h"
#include "SampleGen.h"
#include "support/CliRunner.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace zandor {
namespace {

using testing::CliRun;
using testing::Zandor;

std::string Sample(const std::string& name) { return std::string(ZANDOR_SAMPLES_DIR) + "/" + name; }

TEST(ZandorCli, UsageErrorsAndHelp) {
  EXPECT_EQ(Zandor({}).code, kExitUsage);
  EXPECT_EQ(Zandor({"frobnicate"}).code, kExitUsage);
  EXPECT_EQ(Zandor({"--help"}).code, kExitOk);
  for (const char* command : {"info", "test", "records", "memory"}) {
    const CliRun help = Zandor({command, "--help"});
    EXPECT_EQ(help.code, kExitOk) << command;
    EXPECT_NE(help.out.find(std::string("usage: zandor ") + command), std::string::npos);
    EXPECT_EQ(Zandor({command}).code, kExitUsage) << command;
    EXPECT_EQ(Zandor({command, "a.hex", "--bogus"}).code, kExitUsage) << command;
  }
  EXPECT_EQ(Zandor({"memory", Sample("single-64k.hex")}).code, kExitUsage);
  EXPECT_EQ(Zandor({"memory", Sample("single-64k.hex"), "--segment", "1FF"}).code, kExitUsage);
  EXPECT_EQ(Zandor({"records", Sample("single-64k.hex"), "--from", "0"}).code, kExitUsage);
}

TEST(ZandorCli, FileErrors) {
  const CliRun missing = Zandor({"info", "/nonexistent/file.hex"});
  EXPECT_EQ(missing.code, kExitFileError);
  EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos);
  vel::testing::TempDir dir;
  vel::testing::WriteText(dir.File("cut.hex"), ":0100000011EE\n:01000100");
  const CliRun cut = Zandor({"test", dir.File("cut.hex")});
  EXPECT_EQ(cut.code, kExitFileError);
  EXPECT_NE(cut.err.find("Unexpected file format."), std::string::npos);
}

TEST(ZandorCli, InfoNamesTheDeviceAndVersions) {
  const CliRun info = Zandor({"info", Sample("single-64k.hex")});
  ASSERT_EQ(info.code, kExitOk) << info.err;
  EXPECT_NE(info.out.find("Device type:       G3  (Zandor Matrix)"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Firmware version:  1.23"), std::string::npos);
  EXPECT_NE(info.out.find("Hardware versions: AA, AB, AC"), std::string::npos);
  EXPECT_NE(info.out.find("Records:           4098"), std::string::npos);
  EXPECT_NE(info.out.find("1: Boot: B07"), std::string::npos);
  EXPECT_NE(info.out.find("Images: 1"), std::string::npos);

  const CliRun json = Zandor({"info", Sample("station-three-images.hex"), "--json"});
  ASSERT_EQ(json.code, kExitOk);
  EXPECT_NE(json.out.find("\"image_count\":3"), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"display_name\":\"Zandor User Station\""), std::string::npos);
  EXPECT_NE(json.out.find("\"display_lines\":[\"Main: \",\"RCM: \",\"OSD: \"]"), std::string::npos);
}

TEST(ZandorCli, TestVerdicts) {
  const CliRun pass = Zandor({"test", Sample("kesta-128k.hex")});
  EXPECT_EQ(pass.code, kExitOk);
  EXPECT_NE(pass.out.find("Testing loaded hex file: Passed"), std::string::npos);
  vel::testing::TempDir dir;
  vel::testing::WriteText(dir.File("bad.hex"), ":0100000011EF\n:00000001FF\n");
  const CliRun fail = Zandor({"test", dir.File("bad.hex")});
  EXPECT_EQ(fail.code, kExitNegative);
  EXPECT_NE(fail.out.find("Testing loaded hex file: FAILED"), std::string::npos);
}

TEST(ZandorCli, RecordsAsTheRecordViewShowsThem) {
  vel::testing::TempDir dir;
  vel::testing::WriteText(dir.File("r.hex"),
                          ":020000040000FA\n:02FFF0000a0bFA\n:0000000AF6\n:00000001FF\n");
  const CliRun all = Zandor({"records", dir.File("r.hex")});
  ASSERT_EQ(all.code, kExitOk) << all.err;
  EXPECT_NE(all.out.find("     1  Ext. Linear Address Record    0x02    0x0000   0xFA      00 00 "),
            std::string::npos)
      << all.out;
  EXPECT_NE(all.out.find("     2  Data Record                   0x02    0xFFF0   0xFA      0a 0b "),
            std::string::npos);
  EXPECT_NE(all.out.find("     3                                0x00    0x0000   0xF6"),
            std::string::npos);
  EXPECT_NE(all.out.find("End of File Record"), std::string::npos);
  const CliRun one = Zandor({"records", dir.File("r.hex"), "--from", "2", "--count", "1"});
  EXPECT_EQ(std::count(one.out.begin(), one.out.end(), '\n'), 2);
  EXPECT_EQ(Zandor({"records", dir.File("r.hex"), "--from", "9"}).code, kExitNegative);
}

TEST(ZandorCli, MemoryPagesAndUnusedSegments) {
  const CliRun page =
      Zandor({"memory", Sample("single-64k.hex"), "--segment", "FF", "--page", "01"});
  ASSERT_EQ(page.code, kExitOk) << page.err;
  EXPECT_EQ(std::count(page.out.begin(), page.out.end(), '\n'), 17);
  EXPECT_NE(page.out.find("\n0xFF0100\t"), std::string::npos);
  EXPECT_NE(page.out.find("\n0xFF01F0\t"), std::string::npos);
  // A segment the file does not use is shown erased, as the warning says.
  const CliRun unused =
      Zandor({"memory", Sample("single-64k.hex"), "--segment", "00", "--page", "02"});
  EXPECT_EQ(unused.code, kExitOk);
  EXPECT_NE(unused.err.find("The specified segment is not used in the file."), std::string::npos);
  EXPECT_EQ(std::count(unused.out.begin(), unused.out.end(), '\n'), 17);
  EXPECT_NE(unused.out.find("\n0x0002F0\tFF\tFF"), std::string::npos) << unused.out;
  std::size_t erasedBytes = 0;
  for (std::size_t at = unused.out.find("\tFF"); at != std::string::npos;
       at = unused.out.find("\tFF", at + 1)) {
    ++erasedBytes;
  }
  EXPECT_EQ(erasedBytes, 256u) << "every byte of the page reads FF";
}

TEST(ZandorCli, BinarySegmentMatchesTheGeneratedBytes) {
  vel::testing::TempDir dir;
  ASSERT_EQ(Zandor({"memory", Sample("multi-unit.hex"), "--segment", "01", "--binary",
                    dir.File("seg.bin")})
                .code,
            kExitOk);
  std::ifstream in(dir.File("seg.bin"), std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  const auto samples = samplegen::StandardSamples();
  const auto it = std::find_if(samples.begin(), samples.end(),
                               [](const auto& s) { return s.fileName == "multi-unit.hex"; });
  const auto expected = samplegen::Generate(it->images).expected[0].at(1);
  ASSERT_EQ(bytes.size(), expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bytes.begin(),
                         [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); }));
}

}  // namespace
}  // namespace zandor
