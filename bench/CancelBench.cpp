// Cancels at random moments of an update, through the job facade as a front end cancels a row,
// over TCP and over a pseudo-terminal that the simulator paces at 38400 baud; the link waits
// are the program's own. Each moment falls in one stage (connect, speed search,
// identification, transfer, hand-over between units) at a random time after that stage began;
// the latency runs from the cancel to the end of the row's operation.
#include <cstdio>
#include <memory>
#include <random>
#include <thread>

#include "BenchSupport.h"
#include "SimServer.h"
#include "support/JobRecorder.h"
#include "support/UnansweredEndpoint.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kMomentsPerLink = 20;
constexpr double kSlowestTargetSeconds = 1.5;
constexpr int kBaud = 38400;
constexpr std::uint32_t kSeed = 20261208;
// The first unit's image of multi-unit.hex is 4 blocks of 1,026 frames and its run frame.
constexpr int kFramesOfFirstUnit = 4104;

struct Stage {
  const char* name;
  bool overTcp;
  const char* sample;
  int latestMs;  // the cancel comes up to this long after the stage began
  // Sets the device up so that the update dwells in the stage.
  std::function<void(sim::SimConfig&)> configure;
  // Whether the stage has begun (nothing: at once).
  std::function<bool(sim::SimServer&)> begun;
  bool silentEndpoint = false;  // the endpoint never answers a connect
};

std::vector<Stage> Stages() {
  const auto framesAbove = [](int frames) {
    return [frames](sim::SimServer& s) { return s.Device().FramesReceived() > frames; };
  };
  return {
      {"connect", true, "multi-unit.hex", 4000, {}, {}, true},
      {"identification",
       true,
       "multi-unit.hex",
       1800,
       [](sim::SimConfig& c) { c.answerDelayMs = 2000; },
       {}},
      {"transfer", true, "multi-unit.hex", 3000, [](sim::SimConfig& c) { c.answerDelayMs = 1; },
       framesAbove(0)},
      {"hand-over", true, "multi-unit.hex", 2500,
       [](sim::SimConfig& c) {
         c.units = {sim::SimUnit{0, "G4 ", "A1", "100", {}},
                    sim::SimUnit{1, "G4 ", "B2", "100", {}}};
         c.faults.silenceFromFrame = kFramesOfFirstUnit;
       },
       framesAbove(kFramesOfFirstUnit)},
      {"speed search",
       false,
       "single-64k.hex",
       3000,
       [](sim::SimConfig& c) { c.protocols = {}; },
       {}},
      {"identification",
       false,
       "single-64k.hex",
       1800,
       [](sim::SimConfig& c) { c.answerDelayMs = 2000; },
       {}},
      {"transfer", false, "single-64k.hex", 5000,
       [](sim::SimConfig& c) {
         c.multiUnit = false;
         c.units = {sim::SimUnit{0, "G3 ", "AB", "100", {}}};
       },
       framesAbove(0)},
  };
}

struct Moment {
  std::string stage;
  double latency = 0;
  bool cancelled = false;
};

Moment CancelOnce(const Stage& stage, int delayMs) {
  sim::SimConfig config;
  config.baud = stage.overTcp ? 0 : kBaud;
  if (stage.configure) stage.configure(config);
  std::unique_ptr<sim::SimServer> server;
  std::unique_ptr<vel::testing::UnansweredEndpoint> silent;
  vel::DeviceTarget target;
  if (!stage.silentEndpoint) {
    server = std::make_unique<sim::SimServer>(config);
    if (stage.overTcp) {
      target.kind = vel::LinkKind::kTcp;
      target.address = "127.0.0.1";
      target.port = std::to_string(server->StartTcp());
    } else {
      target.portName = server->StartPty();
    }
  } else {
    silent = std::make_unique<vel::testing::UnansweredEndpoint>();
    target.kind = vel::LinkKind::kTcp;
    target.address = "127.0.0.1";
    target.port = std::to_string(silent->Port());
  }
  vel::testing::JobRecorder recorder;
  vel::JobOptions options;
  options.firmwarePath = std::string(ZANDOR_SAMPLES_DIR) + "/" + stage.sample;
  options.logStatusLines = false;
  vel::DeviceJobs jobs(recorder);
  jobs.Start({vel::RowOfTarget(0, target)}, options);
  while (stage.begun && !stage.begun(*server) && jobs.Running()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
  const auto requested = Clock::now();
  jobs.CancelRow(0);
  jobs.Wait();
  Moment moment;
  moment.stage = std::string(stage.overTcp ? "TCP " : "pty ") + stage.name;
  moment.latency = std::chrono::duration<double>(Clock::now() - requested).count();
  const auto finished = recorder.FinishedRow(0);
  moment.cancelled = finished && finished->outcome == vel::Outcome::kCancelled;
  if (server) server->Stop();
  return moment;
}

}  // namespace

int main(int argc, char** argv) {
  bench::BenchArgs args(argc, argv, "(no arguments)");
  if (!args.Valid()) return 2;
  std::mt19937 random(kSeed);
  const std::vector<Stage> stages = Stages();
  bool allCancelled = true;
  double slowestOverall = 0;
  for (const bool overTcp : {true, false}) {
    std::vector<const Stage*> ofLink;
    for (const Stage& stage : stages) {
      if (stage.overTcp == overTcp) ofLink.push_back(&stage);
    }
    std::vector<double> latencies;
    Moment slowest;
    for (int m = 0; m < kMomentsPerLink; ++m) {
      // Every stage in turn, each at a random time within it.
      const Stage& stage = *ofLink[static_cast<std::size_t>(m) % ofLink.size()];
      const int delayMs = std::uniform_int_distribution<int>(0, stage.latestMs)(random);
      const Moment moment = CancelOnce(stage, delayMs);
      if (!moment.cancelled) {
        std::printf("  %s at %d ms: the row did not end cancelled\n", moment.stage.c_str(),
                    delayMs);
        allCancelled = false;
      }
      latencies.push_back(moment.latency);
      if (moment.latency >= slowest.latency) slowest = moment;
    }
    const bench::Spread spread = bench::SpreadOf(latencies);
    std::printf("%s: %d cancels, median %.0f ms, fastest %.0f ms, slowest %.0f ms (%s)\n",
                overTcp ? "TCP" : "pty at 38400 baud", kMomentsPerLink, spread.median * 1e3,
                spread.low * 1e3, spread.high * 1e3, slowest.stage.c_str());
    slowestOverall = std::max(slowestOverall, spread.high);
  }
  const bool pass = allCancelled && slowestOverall <= kSlowestTargetSeconds;
  std::printf("slowest cancel %.3f s (target <= %.1f s), every row cancelled: %s  %s\n",
              slowestOverall, kSlowestTargetSeconds, allCancelled ? "yes" : "no",
              pass ? "PASS" : "MISS");
  return 0;
}
