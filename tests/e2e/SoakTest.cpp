#include <gtest/gtest.h>

#include "support/Soak.h"

namespace vel::testing {
namespace {

// A short version of bench_soak, one run of every family: every outcome is honest, absorbable
// faults are absorbed, the device sees no protocol violation, and none hangs.
TEST(Soak, EveryFamilyWithoutFalseSuccessViolationOrHang) {
  SoakCounts counts;
  for (std::size_t family = 0; family < SoakFamilies().size(); ++family) {
    SoakOnce(family, static_cast<std::uint32_t>(family + 1) * 7919, ZANDOR_SAMPLES_DIR, &counts,
             std::chrono::seconds(60));
  }
  for (const std::string& problem : counts.problems) ADD_FAILURE() << problem;
  EXPECT_EQ(counts.all.falseSuccesses, 0);
  EXPECT_EQ(counts.all.notAbsorbed, 0);
  EXPECT_EQ(counts.all.hangs, 0);
  EXPECT_EQ(counts.all.violations, 0);
  EXPECT_EQ(counts.byFamily.size(), SoakFamilies().size());
  EXPECT_GT(counts.faultsInjected, 0);
  EXPECT_GT(counts.all.successes, 0);
}

}  // namespace
}  // namespace vel::testing
