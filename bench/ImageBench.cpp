// Reading the generated 16-segment file (65,536 records, 1 MiB of data), side by side with
// srec_cat reading the same file into a binary image:
// (a) whole processes: `zandor memory FILE --segment 0F --binary OUT` against
//     `srec_cat FILE -intel -o OUT -binary`, start-up included, in interleaved pairs;
// (b) in this process: load + memory map + checksum test against srec_cat's whole process.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "BenchSupport.h"
#include "SampleGen.h"
#include "common/AtomicFile.h"
#include "image/HexFileLoader.h"

namespace {

constexpr double kWholeProcessTarget = 0.30;
constexpr double kInProcessTarget = 0.50;
constexpr long kPeakTargetKiB = 32 * 1024;

void LoadMapAndTest(const std::string& path) {
  vel::FirmwareFile file;
  if (!vel::HexFileLoader(file).LoadPath(path).ok()) std::abort();
  file.GetMemMap(0);
  if (file.TestHexFile(nullptr) != vel::HexTestOutcome::kPassed) std::abort();
}

}  // namespace

int main(int argc, char** argv) {
  bench::BenchArgs args(argc, argv, "[RUNS]");
  const int runs = args.Number("RUNS", 15, 1, 10000);
  if (!args.Valid()) return 2;
  char dir[] = "/tmp/zandor-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  const std::string path = std::string(dir) + "/sixteen-segments.hex";
  const std::string ours = std::string(dir) + "/ours.bin";
  const std::string theirs = std::string(dir) + "/theirs.bin";
  const auto generated = samplegen::Generate({samplegen::FullSegmentsImage(16)});
  if (const vel::Result written = vel::WriteFileAtomically(path, generated.text, 0644); !written) {
    std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), written.error().c_str());
    return 1;
  }
  std::printf("file: %zu bytes, 65,536 data records in 16 segments; %d runs each\n",
              generated.text.size(), runs);

  const std::vector<std::string> zandor = {
      bench::OwnFolder() + "/zandor", "memory", path, "--segment", "0F", "--binary", ours};
  const std::vector<std::string> srecCat = {"srec_cat", path, "-intel", "-o", theirs, "-binary"};
  bench::PairedTimes pairs;
  std::vector<double> theirTimes;
  long peak = 0;
  for (int i = 0; i <= runs; ++i) {
    const bench::ProcessRun a = bench::TimeProgram(zandor);
    const bench::ProcessRun b = bench::TimeProgram(srecCat);
    if (!a.ok || !b.ok) {
      std::fprintf(stderr, "zandor or srec_cat failed (is srecord installed?)\n");
      return 1;
    }
    if (i == 0) continue;  // warm-up pair
    pairs.Add(a.seconds, b.seconds);
    theirTimes.push_back(b.seconds);
    peak = std::max(peak, a.peakKiB);
  }
  pairs.Report("(a) whole process vs srec_cat", kWholeProcessTarget);
  std::printf("%-40s %.1f MiB (target < 32 MiB) %s\n", "    peak memory of the whole process",
              peak / 1024.0, peak < kPeakTargetKiB ? "PASS" : "MISS");

  const bench::Seconds inProcess = bench::MedianTime(runs, [&] { LoadMapAndTest(path); });
  bench::ReportRatio("(b) load+map+test in process vs srec_cat", inProcess,
                     bench::SpreadOf(theirTimes).median, kInProcessTarget);
  for (const std::string& file : {path, ours, theirs}) std::remove(file.c_str());
  rmdir(dir);
  return 0;
}
