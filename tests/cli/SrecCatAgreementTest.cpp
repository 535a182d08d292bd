// The memory map agrees byte for byte with an independent Intel HEX reader (srec_cat).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "Cli.h"
#include "SampleGen.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace zandor {
namespace {

TEST(SrecCatAgreement, EverySegmentOfEverySample) {
  if (std::system("command -v srec_cat >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "srec_cat is not installed (scripts/setup.sh installs it)";
  }
  vel::testing::TempDir dir;
  int compared = 0;
  for (const samplegen::Sample& sample : samplegen::StandardSamples()) {
    const std::string path = std::string(ZANDOR_SAMPLES_DIR) + "/" + sample.fileName;
    const auto expected = samplegen::Generate(sample.images).expected;
    if (expected.size() != 1) continue;  // srec_cat reads one image per file
    for (const auto& [segment, bytes] : expected[0]) {
      char seg[8];
      std::snprintf(seg, sizeof seg, "%02X", segment);
      const std::string ours = dir.File("ours.bin");
      const std::string theirs = dir.File("theirs.bin");
      std::ostringstream out, err;
      ASSERT_EQ(RunZandor({"memory", path, "--segment", seg, "--binary", ours}, {out, err, false}),
                kExitOk)
          << err.str();
      const long base = static_cast<long>(segment) << 16;
      const std::string command = "srec_cat '" + path + "' -intel -crop " + std::to_string(base) +
                                  " " + std::to_string(base + 0x10000) + " -offset -" +
                                  std::to_string(base) + " -fill 0xFF 0 0x10000 -o '" + theirs +
                                  "' -binary";
      ASSERT_EQ(std::system(command.c_str()), 0) << command;
      const std::string a = vel::testing::ReadFile(ours), b = vel::testing::ReadFile(theirs);
      ASSERT_EQ(a.size(), 0x10000u);
      EXPECT_TRUE(a == b) << sample.fileName << " segment " << seg;
      ++compared;
    }
  }
  EXPECT_GE(compared, 15);
}

}  // namespace
}  // namespace zandor
