// Simulated TCP devices that answer every frame after 2 ms (as a device behind a serial server
// does), updated all at once through the job facade (the walk of `update --devices --parallel`),
// against one such device alone; the walk's parallel efficiency; the host side's processor time
// per record frame against a bare blocking ping-pong's at the same pace; and the resident memory
// each device costs.
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
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
constexpr double kTimeBound = 1.5;            // a walk no longer than this times one device
constexpr int kRecordFramesPerDevice = 1024;  // one 16 KiB block in 16-byte records
constexpr int kRecordFrameBytes = 21;         // a 16-byte record's frame on the wire
constexpr double kEfficiencyTarget = 0.90;
constexpr double kFrameCpuTarget = 1.10;

// One walk: its time, and the processor time that the host's side and the simulated devices
// took (the devices stand for hardware of their own, but here they share the processors); the
// share of the process's time spent in the kernel and its thread switches per record frame.
struct Walk {
  double seconds = 0;
  double engineCpu = 0, devicesCpu = 0;
  double kernelShare = 0, switchesPerFrame = 0;
};

// Processor time and thread switches so far: the whole process's (every thread, ended ones
// included), or the calling thread's alone.
struct ProcessUsage {
  double userSeconds = 0, kernelSeconds = 0;
  long switches = 0;

  static ProcessUsage Now() { return Of(RUSAGE_SELF); }
  static ProcessUsage OfThisThread() { return Of(RUSAGE_THREAD); }
  double Seconds() const { return userSeconds + kernelSeconds; }

 private:
  static ProcessUsage Of(int who) {
    rusage usage{};
    getrusage(who, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return {seconds(usage.ru_utime), seconds(usage.ru_stime), usage.ru_nvcsw + usage.ru_nivcsw};
  }
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
  // The host side's time ends with the walk: stopping the simulated devices is theirs.
  const ProcessUsage walked = ProcessUsage::Now();
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
  walk.engineCpu = walked.Seconds() - before.Seconds() - walk.devicesCpu;
  walk.kernelShare =
      (after.kernelSeconds - before.kernelSeconds) / (after.Seconds() - before.Seconds());
  walk.switchesPerFrame = static_cast<double>(after.switches - before.switches) /
                          (static_cast<double>(devices) * kRecordFramesPerDevice);
  return walk;
}

// The least a thread per device can cost the host: `pairs` clients at once, each sending its
// record frames over loopback TCP and blocking on the one-byte answer a peer thread sends after
// the devices' pace. The host side's processor time per frame, in seconds, counted as for a walk:
// the whole process's time less what the peers (the devices) took on their own threads.
double BarePingPongCpuPerFrame(int pairs) {
  const ProcessUsage before = ProcessUsage::Now();
  std::mutex lock;
  double peersCpu = 0;
  std::vector<std::thread> clients, peers;
  for (int p = 0; p < pairs; ++p) {
    std::uint16_t port = 0;
    const int listener = bench::ListenLoopback(&port);
    peers.emplace_back([listener, &lock, &peersCpu] {
      const int fd = ::accept(listener, nullptr, nullptr);
      ::close(listener);
      std::uint8_t frame[kRecordFrameBytes];
      const std::uint8_t ack = 0xFA;
      while (bench::ReadAll(fd, frame, kRecordFrameBytes)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kAnswerDelayMs));
        ::send(fd, &ack, 1, MSG_NOSIGNAL);
      }
      ::close(fd);
      const double used = ProcessUsage::OfThisThread().Seconds();
      std::lock_guard<std::mutex> guard(lock);
      peersCpu += used;
    });
    clients.emplace_back([port] {
      const int fd = bench::ConnectLoopback(port);
      std::uint8_t record[kRecordFrameBytes] = {0x10};
      std::uint8_t answer = 0;
      for (int r = 0; r < kRecordFramesPerDevice; ++r) {
        ::send(fd, record, sizeof record, MSG_NOSIGNAL);
        if (!bench::ReadAll(fd, &answer, 1)) std::abort();
      }
      ::close(fd);
    });
  }
  for (std::thread& client : clients) client.join();
  const ProcessUsage walked = ProcessUsage::Now();
  for (std::thread& peer : peers) peer.join();
  const double hostCpu = walked.Seconds() - before.Seconds() - peersCpu;
  return hostCpu / (static_cast<double>(pairs) * kRecordFramesPerDevice);
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
  std::vector<double> ratios;
  long peakOne = 0, peakMany = 0;
  std::vector<Walk> ones, manys;
  // The bare ping-pong at the same count runs right after each walk, on the machine as it is
  // then: its speed drifts over a run of this bench by more than the difference measured.
  std::vector<double> bares;
  for (int pair = 0; pair < kPairs; ++pair) {
    ones.push_back(UpdateRows(1, firmware));
    if (pair == 0) peakOne = PeakRssKiB();
    manys.push_back(UpdateRows(devices, firmware));
    if (pair == 0) peakMany = PeakRssKiB();
    ratios.push_back(manys.back().seconds / ones.back().seconds);
    bares.push_back(BarePingPongCpuPerFrame(devices));
  }
  // Not a target: the simulated devices share this machine's processors with the host side, so
  // beyond a few dozen devices the walk's time measures the machine. The efficiency below is.
  const bench::Spread ratio = bench::SpreadOf(ratios);
  std::printf(
      "%d devices at once vs one device: %.2f s vs %.2f s, ratio median %.3f (%.3f - %.3f)\n",
      devices, MedianOf(manys, &Walk::seconds), MedianOf(ones, &Walk::seconds), ratio.median,
      ratio.low, ratio.high);
  // What a walk as long as kTimeBound times one device asks of the processors: the walk's
  // processor time spread over that time.
  const double allowed = kTimeBound * MedianOf(ones, &Walk::seconds);
  const double engine = MedianOf(manys, &Walk::engineCpu);
  const double simulated = MedianOf(manys, &Walk::devicesCpu);
  std::printf("processor time of a walk (medians): host side %.2f s, simulated devices %.2f s\n",
              engine, simulated);
  std::printf(
      "processors a walk of 1.5 x one device would need: %.1f with the simulated devices, %.1f for "
      "the host side alone (this machine has %u)\n",
      (engine + simulated) / allowed, engine / allowed, std::thread::hardware_concurrency());
  std::printf(
      "of that time in the kernel: %.0f %%; thread switches per record frame, host and device "
      "together: %.1f (medians)\n",
      100 * MedianOf(manys, &Walk::kernelShare), MedianOf(manys, &Walk::switchesPerFrame));
  // The walk's parallel efficiency: all its processor time spread over this machine's processors,
  // over its wall time (1 when no processor ever waited). While the processors are not all
  // needed, the walk cannot be shorter than one device alone either: the other figure takes the
  // larger of the two bounds.
  const unsigned processors = std::max(1u, std::thread::hardware_concurrency());
  std::vector<double> floors, bounded;
  for (const Walk& walk : manys) {
    const double floor = (walk.engineCpu + walk.devicesCpu) / processors;
    floors.push_back(floor / walk.seconds);
    bounded.push_back(std::max(floor, MedianOf(ones, &Walk::seconds)) / walk.seconds);
  }
  const bench::Spread efficiency = bench::SpreadOf(floors);
  const bench::Spread boundedEfficiency = bench::SpreadOf(bounded);
  bench::ReportSpread("parallel efficiency (processor-time floor / wall time)", efficiency,
                      kEfficiencyTarget, true);
  std::printf(
      "  against the larger bound (that floor, or one device alone): median %.3f (%.3f - %.3f)\n",
      boundedEfficiency.median, boundedEfficiency.low, boundedEfficiency.high);
  // The host side's processor time per record frame, against the bare ping-pong after each walk.
  std::vector<double> frameRatios;
  for (int run = 0; run < kPairs; ++run) {
    const double bare = bares[static_cast<std::size_t>(run)];
    const double ours = manys[static_cast<std::size_t>(run)].engineCpu /
                        (static_cast<double>(devices) * kRecordFramesPerDevice);
    frameRatios.push_back(ours / bare);
    if (run == 0) {
      std::printf("host processor time per record frame: ours %.1f us, bare ping-pong %.1f us\n",
                  ours * 1e6, bare * 1e6);
    }
  }
  bench::ReportSpread("host processor time per record frame, ours vs bare blocking ping-pong",
                      bench::SpreadOf(frameRatios), kFrameCpuTarget, false);
  const double perDevice = (peakMany - peakOne) / 1024.0 / (devices - 1);
  std::printf("resident memory per device: %.2f MiB (target <= %.1f) %s\n", perDevice,
              kMemoryTargetMiB, perDevice <= kMemoryTargetMiB ? "PASS" : "MISS");
  std::remove(firmware.c_str());
  rmdir(dir);
  return 0;
}
