// Peak resident memory of a walk over a big firmware file: several rows updated side by side
// (the walk of `update --devices --parallel N`) against one row alone. Each walk runs in a child
// process of its own, so each peak is that walk's alone.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "BenchSupport.h"
#include "SampleGen.h"
#include "SimServer.h"
#include "common/AtomicFile.h"
#include "devices/DeviceWalks.h"
#include "support/JobRecorder.h"

namespace {

constexpr int kDefaultMiB = 200;
constexpr int kDefaultRows = 4;
constexpr int kRuns = 5;
constexpr double kTarget = 1.25;  // the side-by-side walk's peak against one row's
constexpr int kFullSegmentsPerImage = 256;
constexpr int kMaxImages = 10;
constexpr std::size_t kFullSegmentTextBytes = 4096 * 45 + 15;  // 16-byte records and CR LF

// What the simulated device takes: one 16 KiB block into segment 0 of image 0. The images behind
// it are for other devices, full segments of 16-byte records up to about `mib` MiB of text.
std::vector<samplegen::ImageSpec> BigFile(int mib) {
  samplegen::ImageSpec device;
  device.metadataItems = {"DeviceType = G4", "HardwareVersionList = ??"};
  device.segments = {0};
  device.bytesPerSegment = 0x4000;
  device.addressRecordType = 2;
  std::vector<samplegen::ImageSpec> images = {device};
  std::size_t segments = static_cast<std::size_t>(mib) * 1024 * 1024 / kFullSegmentTextBytes;
  while (segments > 0 && static_cast<int>(images.size()) < kMaxImages) {
    const int count = static_cast<int>(std::min<std::size_t>(segments, kFullSegmentsPerImage));
    samplegen::ImageSpec image = samplegen::FullSegmentsImage(count);
    image.metadataItems.push_back("HardwareVersionList = ??");
    image.seed = static_cast<std::uint32_t>(images.size());
    images.push_back(std::move(image));
    segments -= static_cast<std::size_t>(count);
  }
  return images;
}

bool WriteBigFile(const std::string& path, int mib) {
  std::string text;
  for (const samplegen::ImageSpec& image : BigFile(mib)) text += samplegen::Generate({image}).text;
  return static_cast<bool>(vel::WriteFileAtomically(path, text, 0644));
}

// Answers the walk's questions as the automatic confirmation does and keeps nothing but the
// walk's verdict: what a front end keeps of a row's progress is no part of the walk's memory.
class VerdictSink final : public vel::JobEventSink {
 public:
  void Publish(vel::JobEvent event) override {
    if (const auto* question = event.If<vel::job::Question>()) answers_.Answer(*question->question);
    if (const auto* walk = event.If<vel::job::WalkFinished>()) succeeded_ = walk->allSucceeded;
  }
  bool Succeeded() const { return succeeded_; }

 private:
  vel::testing::JobRecorder answers_;
  std::atomic<bool> succeeded_{false};
};

// Updates `rows` simulated TCP devices with the file, all of them side by side.
void Walk(int rows, const std::string& firmware) {
  std::vector<std::unique_ptr<sim::SimServer>> servers;
  std::vector<vel::JobRow> jobRows;
  for (int d = 0; d < rows; ++d) {
    servers.push_back(std::make_unique<sim::SimServer>(sim::SimConfig{}));
    vel::DeviceTarget target;
    target.kind = vel::LinkKind::kTcp;
    target.address = "127.0.0.1";
    target.port = std::to_string(servers.back()->StartTcp());
    jobRows.push_back(vel::RowOfTarget(static_cast<std::size_t>(d), target));
  }
  VerdictSink sink;
  vel::JobOptions options;
  options.firmwarePath = firmware;
  options.parallel = rows;
  options.logStatusLines = false;
  {
    vel::DeviceJobs jobs(sink);
    jobs.Start(std::move(jobRows), std::move(options));
    jobs.Wait();
  }
  if (!sink.Succeeded()) {
    std::fprintf(stderr, "an update failed\n");
    std::_Exit(1);
  }
  for (const auto& server : servers) server->Stop();
}

double MiB(long kib) { return static_cast<double>(kib) / 1024.0; }

}  // namespace

int main(int argc, char** argv) {
  bench::BenchArgs args(argc, argv,
                        "[--mib M] [--rows N]  (file of about M MiB, 1-400, default 200; N rows "
                        "side by side, 2-16, default 4)");
  const int mib = args.Option("--mib", kDefaultMiB, 1, 400);
  const int rows = args.Option("--rows", kDefaultRows, 2, 16);
  if (!args.Valid()) return 2;
  char dir[] = "/tmp/zandor-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  const std::string firmware = std::string(dir) + "/big.hex";
  // Written by a child, so that none of the generator's memory stays with the walks' parent.
  bench::PeakMemoryKiB([&] { std::_Exit(WriteBigFile(firmware, mib) ? 0 : 1); });
  FILE* written = std::fopen(firmware.c_str(), "rb");
  if (written == nullptr) return 1;
  std::fseek(written, 0, SEEK_END);
  const long size = std::ftell(written);
  std::fclose(written);
  // Pairs of one row alone and all rows side by side.
  std::vector<double> ones, manys, ratios;
  for (int run = 0; run < kRuns; ++run) {
    ones.push_back(MiB(bench::PeakMemoryKiB([&] { Walk(1, firmware); })));
    manys.push_back(MiB(bench::PeakMemoryKiB([&] { Walk(rows, firmware); })));
    ratios.push_back(manys.back() / ones.back());
  }
  const bench::Spread one = bench::SpreadOf(ones), many = bench::SpreadOf(manys),
                      ratio = bench::SpreadOf(ratios);
  std::printf("file: %.1f MiB\n", MiB(size / 1024));
  std::printf("peak memory, one row: %.0f MiB (%.0f-%.0f)\n", one.median, one.low, one.high);
  std::printf("peak memory, %d rows side by side: %.0f MiB (%.0f-%.0f)\n", rows, many.median,
              many.low, many.high);
  std::printf("%d rows / one row: %.2f (%.2f-%.2f) (target <= %.2f) %s\n", rows, ratio.median,
              ratio.low, ratio.high, kTarget, ratio.median <= kTarget ? "PASS" : "MISS");
  std::remove(firmware.c_str());
  rmdir(dir);
  return 0;
}
