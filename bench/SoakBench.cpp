// A fault soak: updates of every kind of simulated device with seeded random faults (lost and
// corrupted acknowledgements, block errors, silence, disconnects, busy). No update may be
// reported successful unless the device holds exactly the image's bytes, every update whose
// faults the protocol absorbs must succeed, and none may hang.
#include <cstdio>
#include <cstdlib>

#include "support/Soak.h"

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
  const char* samples = argc > 2 ? argv[2] : ZANDOR_SAMPLES_DIR;
  vel::testing::SoakCounts counts;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 1; i <= runs; ++i) {
    vel::testing::SoakOnce(static_cast<std::uint32_t>(i) * 104729u, samples, &counts,
                           std::chrono::seconds(180), true);
    if (i % 25 == 0) std::fprintf(stderr, "%d runs...\n", i);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (const std::string& problem : counts.problems) std::printf("PROBLEM %s\n", problem.c_str());
  for (const auto& [name, tally] : counts.runsAndSuccesses) {
    std::printf("%-9s runs %3d  successes %3d\n", name.c_str(), tally.first, tally.second);
  }
  std::printf(
      "runs %d, successes %d, absorbable %d, not absorbed %d, faults injected %d, false "
      "successes %d, hangs %d (%.0f s)\n",
      counts.runs, counts.successes, counts.absorbable, counts.notAbsorbed, counts.faultsInjected,
      counts.falseSuccesses, counts.hangs, seconds);
  return counts.falseSuccesses == 0 && counts.notAbsorbed == 0 && counts.hangs == 0 ? 0 : 1;
}
