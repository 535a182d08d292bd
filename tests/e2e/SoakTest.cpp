#include <gtest/gtest.h>

#include "support/Soak.h"

namespace vel::testing {
namespace {

// A short version of bench_soak: every outcome is honest, absorbable faults are absorbed, and
// none hangs.
TEST(Soak, NoFalseSuccessAndNoHang) {
  SoakCounts counts;
  for (std::uint32_t seed = 1; seed <= 12; ++seed) {
    SoakOnce(seed * 7919, ZANDOR_SAMPLES_DIR, &counts, std::chrono::seconds(60));
  }
  for (const std::string& problem : counts.problems) ADD_FAILURE() << problem;
  EXPECT_EQ(counts.falseSuccesses, 0);
  EXPECT_EQ(counts.notAbsorbed, 0);
  EXPECT_EQ(counts.hangs, 0);
  EXPECT_GT(counts.faultsInjected, 0);
  EXPECT_GT(counts.successes, 0);
}

}  // namespace
}  // namespace vel::testing
