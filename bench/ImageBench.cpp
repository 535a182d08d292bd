// Load + memory map + checksum test of 16 full segments (1 MiB of data, 65,536 records),
// side by side with srec_cat reading the same file into a binary image.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "BenchSupport.h"
#include "SampleGen.h"
#include "common/AtomicFile.h"
#include "image/HexFileLoader.h"

namespace {

void LoadMapAndTest(const std::string& path) {
  vel::FirmwareFile file;
  if (!vel::HexFileLoader(file).LoadPath(path).ok()) std::abort();
  file.GetMemMap(0);
  if (file.TestHexFile(nullptr) != vel::HexTestOutcome::kPassed) std::abort();
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 15;
  char dir[] = "/tmp/zandor-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  const std::string path = std::string(dir) + "/sixteen-segments.hex";
  std::string error;
  const auto generated = samplegen::Generate({samplegen::FullSegmentsImage(16)});
  if (!vel::WriteFileAtomically(path, generated.text, 0644, &error)) {
    std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), error.c_str());
    return 1;
  }
  std::printf("file: %zu bytes, 65,536 data records in 16 segments; median of %d runs\n",
              generated.text.size(), runs);

  const bench::Seconds ours = bench::MedianTime(runs, [&] { LoadMapAndTest(path); });
  bool srecOk = true;
  const bench::Seconds theirs = bench::MedianTime(runs, [&] {
    srecOk =
        srecOk && bench::RunProgram({"srec_cat", path, "-intel", "-o", "/dev/null", "-binary"});
  });
  if (!srecOk) {
    std::fprintf(stderr, "srec_cat failed or is not installed\n");
    return 1;
  }
  bench::ReportRatio("load+map+test vs srec_cat", ours, theirs, 0.5);
  const long peak = bench::PeakMemoryKiB([&] { LoadMapAndTest(path); });
  std::printf("%-40s %.1f MiB (target < 64 MiB) %s\n", "peak memory of load+map+test",
              peak / 1024.0, peak < 64 * 1024 ? "PASS" : "MISS");
  std::remove(path.c_str());
  rmdir(dir);
  return 0;
}
