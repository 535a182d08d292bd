// A fault soak: updates of every family's simulated device in turn, with seeded random faults
// (lost, corrupted, late, duplicated and 0xF4 acknowledgements, programming delays, block errors,
// refused unit selections, silence, disconnects, busy). No update may be reported successful
// unless the device holds exactly the image's bytes, every update whose faults the protocol
// absorbs must succeed, the strict device must see no protocol violation, and none may hang.
#include <cstdio>
#include <cstdlib>

#include "BenchSupport.h"
#include "support/Soak.h"

// bench_soak [RUNS [SAMPLES-DIR [FIRST]]]: runs FIRST (default 1) to RUNS, run i with family
// i - 1 (in turn) and seed i * 104729, so that one run can be repeated on its own.
int main(int argc, char** argv) {
  bench::BenchArgs args(argc, argv, "[RUNS [SAMPLES-DIR [FIRST]]]  (1 <= FIRST <= RUNS)");
  const int runs = args.Number("RUNS", 200, 1, 1000000);
  const std::string samplesDir = args.Word(ZANDOR_SAMPLES_DIR);
  const char* samples = samplesDir.c_str();
  const int first = args.Number("FIRST", 1, 1, runs);
  if (!args.Valid()) return 2;
  vel::testing::SoakCounts counts;
  const auto start = std::chrono::steady_clock::now();
  for (int i = first; i <= runs; ++i) {
    vel::testing::SoakOnce(static_cast<std::size_t>(i - 1), static_cast<std::uint32_t>(i) * 104729u,
                           samples, &counts, std::chrono::seconds(180), true);
    if (i % 25 == 0) std::fprintf(stderr, "%d runs...\n", i);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (const std::string& problem : counts.problems) std::printf("PROBLEM %s\n", problem.c_str());
  std::printf(
      "| procedure | runs | absorbable | successes | absorbable not absorbed | false "
      "successes | hangs | protocol violations |\n|---|---|---|---|---|---|---|---|\n");
  const auto row = [](const std::string& name, const vel::testing::SoakTally& t) {
    std::printf("| %s | %d | %d | %d | %d | %d | %d | %d |\n", name.c_str(), t.runs, t.absorbable,
                t.successes, t.notAbsorbed, t.falseSuccesses, t.hangs, t.violations);
  };
  for (const auto& [name, tally] : counts.byFamily) row(name, tally);
  row("all", counts.all);
  std::printf("faults injected %d (%.0f s)\n", counts.faultsInjected, seconds);
  const auto& all = counts.all;
  return all.falseSuccesses == 0 && all.notAbsorbed == 0 && all.hangs == 0 && all.violations == 0
             ? 0
             : 1;
}
