// The power-cut matrix: for every family, an update cut at each eighth of its transfer (1/8 to
// 7/8) and then run again against the same device, which restarted with what it had programmed.
// No cut update may end successful or fail to say it must be run again, every second run must
// succeed with the exact image, and the strict device must see no protocol violation.
#include <cstdio>
#include <cstring>
#include <string>

#include "support/PowerCut.h"

// bench_power_cut [--family NAME] [SAMPLES-DIR]: NAME as the table prints it (T1, T12, ...).
int main(int argc, char** argv) {
  std::string only;
  const char* samples = ZANDOR_SAMPLES_DIR;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--family") == 0 && i + 1 < argc) {
      only = argv[++i];
    } else if (argv[i][0] != '-') {
      samples = argv[i];
    } else {
      std::fprintf(stderr, "usage: bench_power_cut [--family NAME] [SAMPLES-DIR]\n");
      return 2;
    }
  }
  int runs = 0, problems = 0;
  const auto start = std::chrono::steady_clock::now();
  std::printf(
      "| procedure | transfer frames | cuts | cut reported interrupted | run again exact |\n"
      "|---|---|---|---|---|\n");
  for (const vel::testing::SoakFamily& family : vel::testing::SoakFamilies()) {
    if (!only.empty() && only != family.name) continue;
    const int frames = vel::testing::CleanFrames(family, samples);
    int interrupted = 0, exact = 0;
    for (int eighth = 1; eighth <= 7; ++eighth) {
      const auto run = vel::testing::CutAndRunAgain(family, samples, eighth, frames);
      ++runs;
      const bool cutHonest = run.powerCut && run.cut.outcome != vel::Outcome::kSucceeded &&
                             !vel::IsUpdateSuccess(run.cut.statusCode) && run.cut.interrupted;
      const bool recovered = run.again.outcome == vel::Outcome::kSucceeded &&
                             run.imageProblem.empty() && run.violations.empty();
      interrupted += cutHonest ? 1 : 0;
      exact += recovered ? 1 : 0;
      if (!cutHonest || !recovered) {
        ++problems;
        std::printf("PROBLEM %s cut at frame %d of %d: cut \"%s\" (%s), again status %d %s",
                    family.name, run.cutAt, frames, run.cutText.c_str(),
                    run.powerCut ? "cut seen" : "no cut", run.again.statusCode,
                    run.imageProblem.c_str());
        for (const std::string& v : run.violations) std::printf(" / violation: %s", v.c_str());
        std::printf("\n");
      }
    }
    std::printf("| %s | %d | 7 | %d | %d |\n", family.name, frames, interrupted, exact);
    std::fflush(stdout);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%d cuts, %d problems (%.0f s)\n", runs, problems, seconds);
  return runs > 0 && problems == 0 ? 0 : 1;
}
