// Simulated TCP devices that answer every frame after 2 ms (as a device behind a serial server
// does), updated all at once through the job facade (the walk of `update --devices --parallel`),
// against one such device alone; and the resident memory each device costs.
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <thread>
#include <utility>
#include <vector>

#include "BenchSupport.h"
#include "SampleGen.h"
#include "SimServer.h"
#include "common/AtomicFile.h"
#include "devices/DeviceWalks.h"
#include "support/JobRecorder.h"

namespace {

constexpr int kDefaultDevices = 64;
constexpr int kMaxDevices = 1024;
constexpr int kAnswerDelayMs = 2;
constexpr double kMemoryTargetMiB = 2.0;
constexpr double kTimeTarget = 1.5;
constexpr int kRecordFramesPerDevice = 1024;  // one 16 KiB block in 16-byte records

// One walk: its time, and the processor time that the host's side and the simulated devices
// took (the devices stand for hardware of their own, but here they share the processors); the
// share of the process's time spent in the kernel and its thread switches per record frame.
struct Walk {
  double seconds = 0;
  double engineCpu = 0, devicesCpu = 0;
  double kernelShare = 0, switchesPerFrame = 0;
};

// The whole process's processor time (every thread, ended ones included) and thread switches.
struct ProcessUsage {
  double userSeconds = 0, kernelSeconds = 0;
  long switches = 0;

  static ProcessUsage Now() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return {seconds(usage.ru_utime), seconds(usage.ru_stime), usage.ru_nvcsw + usage.ru_nivcsw};
  }
  double Seconds() const { return userSeconds + kernelSeconds; }
};

Walk UpdateRows(int devices, const std::string& firmware) {
  const ProcessUsage before = ProcessUsage::Now();
  std::vector<std::unique_ptr<sim::SimServer>> servers;
  std::vector<vel::JobRow> rows;
  for (int d = 0; d < devices; ++d) {
    sim::SimConfig config;
    config.answerDelayMs = kAnswerDelayMs;
    servers.push_back(std::make_unique<sim::SimServer>(config));
    vel::DeviceTarget target;
    target.kind = vel::LinkKind::kTcp;
    target.address = "127.0.0.1";
    target.port = std::to_string(servers.back()->StartTcp());
    rows.push_back(vel::RowOfTarget(static_cast<std::size_t>(d), target));
  }
  vel::testing::JobRecorder recorder;
  vel::JobOptions options;
  options.firmwarePath = firmware;
  options.parallel = devices;
  options.logStatusLines = false;
  const auto start = std::chrono::steady_clock::now();
  {
    vel::DeviceJobs jobs(recorder);
    jobs.Start(std::move(rows), std::move(options));
    jobs.Wait();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!recorder.Walked().allSucceeded) {
    std::fprintf(stderr, "an update failed\n");
    std::abort();
  }
  Walk walk;
  walk.seconds = seconds;
  for (const auto& server : servers) {
    server->Stop();
    walk.devicesCpu += server->ServingSeconds();
  }
  const ProcessUsage after = ProcessUsage::Now();
  walk.engineCpu = after.Seconds() - before.Seconds() - walk.devicesCpu;
  walk.kernelShare =
      (after.kernelSeconds - before.kernelSeconds) / (after.Seconds() - before.Seconds());
  walk.switchesPerFrame = static_cast<double>(after.switches - before.switches) /
                          (static_cast<double>(devices) * kRecordFramesPerDevice);
  return walk;
}

// The median of one figure over a series of walks.
double MedianOf(const std::vector<Walk>& walks, double Walk::*figure) {
  std::vector<double> values;
  for (const Walk& walk : walks) values.push_back(walk.*figure);
  return bench::SpreadOf(std::move(values)).median;
}

// The process's peak resident memory so far, in KiB.
long PeakRssKiB() {
  FILE* status = std::fopen("/proc/self/status", "r");
  char line[256];
  long kib = -1;
  while (status != nullptr && std::fgets(line, sizeof line, status) != nullptr) {
    if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
  }
  if (status != nullptr) std::fclose(status);
  return kib;
}

}  // namespace

int main(int argc, char** argv) {
  bench::BenchArgs args(argc, argv, "[--devices N]  (N from 2, default 64)");
  const int devices = args.Option("--devices", kDefaultDevices, 2, kMaxDevices);
  if (!args.Valid()) return 2;
  char dir[] = "/tmp/zandor-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  samplegen::ImageSpec image;
  image.metadataItems = {"DeviceType = G4", "HardwareVersionList = ??"};
  image.segments = {0};
  image.bytesPerSegment = 0x4000;  // one block: kRecordFramesPerDevice record frames
  image.addressRecordType = 2;
  const std::string firmware = std::string(dir) + "/one-block.hex";
  if (!vel::WriteFileAtomically(firmware, samplegen::Generate({image}).text, 0644)) {
    return 1;
  }
  // Pairs of one device alone and all devices at once; the peak memory of the first pair gives
  // what each further device costs (its simulated device included).
  constexpr int kPairs = 5;
  bench::PairedTimes times;
  long peakOne = 0, peakMany = 0;
  std::vector<Walk> ones, manys;
  for (int pair = 0; pair < kPairs; ++pair) {
    ones.push_back(UpdateRows(1, firmware));
    if (pair == 0) peakOne = PeakRssKiB();
    manys.push_back(UpdateRows(devices, firmware));
    if (pair == 0) peakMany = PeakRssKiB();
    times.Add(manys.back().seconds, ones.back().seconds);
  }
  times.Report(std::to_string(devices) + " devices at once vs one device", kTimeTarget);
  // What the target asks of the processors: the walk's processor time spread over the time the
  // target allows.
  const double allowed = kTimeTarget * MedianOf(ones, &Walk::seconds);
  const double engine = MedianOf(manys, &Walk::engineCpu);
  const double simulated = MedianOf(manys, &Walk::devicesCpu);
  std::printf("processor time of a walk (medians): host side %.2f s, simulated devices %.2f s\n",
              engine, simulated);
  std::printf(
      "processors the time target needs: %.1f with the simulated devices, %.1f for the host side "
      "alone (this machine has %u)\n",
      (engine + simulated) / allowed, engine / allowed, std::thread::hardware_concurrency());
  std::printf(
      "of that time in the kernel: %.0f %%; thread switches per record frame, host and device "
      "together: %.1f (medians)\n",
      100 * MedianOf(manys, &Walk::kernelShare), MedianOf(manys, &Walk::switchesPerFrame));
  const double perDevice = (peakMany - peakOne) / 1024.0 / (devices - 1);
  std::printf("resident memory per device: %.2f MiB (target <= %.1f) %s\n", perDevice,
              kMemoryTargetMiB, perDevice <= kMemoryTargetMiB ? "PASS" : "MISS");
  std::remove(firmware.c_str());
  rmdir(dir);
  return 0;
}
