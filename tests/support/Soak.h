#pragma once

// Updates against simulated devices with seeded random faults, checking that no update is ever
// reported successful unless the device holds exactly the image's bytes, and that none hangs.
#include <chrono>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "SimOptions.h"
#include "SimServer.h"
#include "common/Strings.h"
#include "devices/DeviceOperations.h"
#include "support/EngineFakes.h"

namespace vel::testing {

struct SoakCounts {
  int runs = 0;
  int successes = 0;
  int faultsInjected = 0;
  int falseSuccesses = 0;
  int hangs = 0;
  std::vector<std::string> problems;
};

struct SoakFamily {
  const char* family;
  const char* sample;
  bool tcp;
  struct Phase {
    int slot;
    std::vector<int> segments;
    bool blankAsZero;
  };
  std::vector<Phase> phases;  // what each programmed record must hold, in order
};

inline const std::vector<SoakFamily>& SoakFamilies() {
  static const std::vector<SoakFamily> families = {
      {"matrix", "single-64k.hex", false, {{0, {0xFF}, false}}},
      {"multi", "multi-unit.hex", true, {{0, {0, 1}, false}}},
      {"kesta128", "kesta-128k.hex", false, {{0, {254, 255}, true}}},
      {"dravik-ypk", "dravik-ypk.hex", false, {{0, {0xFF}, false}}},
      {"tzt", "tzt-two-images.hex", false, {{0, {0xFF}, false}, {1, {254, 255}, false}}},
      {"loader", "loader-g5.hex", true, {{0, {0, 1}, false}, {1, {0}, false}}},
      {"station",
       "station-three-images.hex",
       false,
       {{0, {0xFF}, false}, {1, {0xFF}, false}, {2, {0xFF}, false}}},
      {"hub", "hub-jqh.hex", false, {{0, {0xFF}, false}}},
      {"xxx", "xxx-two-images.hex", false, {{0, {0, 1}, false}, {1, {254, 255}, false}}},
      {"dravik-ypc", "dravik-ypc.hex", false, {{0, {254, 255}, true}}},
      {"dravik-ypa", "dravik-ypa.hex", false, {{0, {0xFF}, false}, {1, {254, 255}, true}}},
      {"dravik", "dravik-128k.hex", false, {{0, {254, 255}, true}}},
  };
  return families;
}

// The device's memory for one phase equals the image (blank records as zeros where the
// procedure sends them so); *why says what differs.
inline bool HoldsImage(const sim::ProgrammedUnit& unit, const VelMemMap& map,
                       const SoakFamily::Phase& phase, std::string* why) {
  if (unit.segments.size() != phase.segments.size()) {
    *why = "programmed " + std::to_string(unit.segments.size()) + " segments, expected " +
           std::to_string(phase.segments.size());
    return false;
  }
  for (int s : phase.segments) {
    const auto it = unit.segments.find(s);
    const VelSegment* image = map.Segment(static_cast<std::uint8_t>(s));
    if (it == unit.segments.end() || image == nullptr) {
      *why = "segment " + std::to_string(s) + " missing";
      return false;
    }
    for (std::size_t r = 0; r < image->bytes.size(); r += 16) {
      const bool blank = std::all_of(image->bytes.begin() + r, image->bytes.begin() + r + 16,
                                     [](std::uint8_t b) { return b == 0xFF; });
      for (std::size_t i = r; i < r + 16; ++i) {
        const std::uint8_t expected = blank && phase.blankAsZero ? 0x00 : image->bytes[i];
        if (it->second[i] != expected) {
          *why = "segment " + std::to_string(s) + " differs at offset " + std::to_string(i);
          return false;
        }
      }
    }
  }
  return true;
}

inline void SoakOnce(std::uint32_t seed, const std::string& samples, SoakCounts* counts,
                     std::chrono::seconds bound) {
  std::mt19937 random(seed);
  const auto& families = SoakFamilies();
  const SoakFamily& family = families[random() % families.size()];
  sim::SimConfig config;
  sim::ApplyFamily(family.family, &config);
  config.faults.seed = seed;
  const auto chance = [&random](int percent) { return static_cast<int>(random() % 100) < percent; };
  if (chance(40)) config.faults.lostAck = 0.002 * (1 + random() % 3);
  if (chance(40)) config.faults.corruptAck = 0.01 * (1 + random() % 3);
  if (chance(40)) {
    const std::uint8_t codes[] = {0xF6, 0xF7, 0xF8};
    config.faults.blockResults[static_cast<int>(random() % 6)] = codes[random() % 3];
  }
  if (chance(10)) config.faults.silenceFromFrame = static_cast<int>(random() % 3000);
  if (family.tcp && chance(10)) config.faults.disconnectAtFrame = static_cast<int>(random() % 3000);
  if (chance(5)) config.faults.busy = true;

  sim::SimServer server(config);
  DeviceTarget target;
  if (family.tcp) {
    target.kind = LinkKind::kTcp;
    target.address = "127.0.0.1";
    target.port = std::to_string(server.StartTcp());
  } else {
    target.portName = server.StartPty();
  }
  RecordingConsole console;
  ScriptedOperator op;
  CVelUpdateDoc doc(console, op);
  doc.OnOpenDocument(samples + "/" + family.sample);
  doc.Link().Serial().SetTimeouts(50, 1000);
  doc.Link().Tcp().SetWaitStep(10);
  doc.Link().Tcp().SetReconnectPause(5);
  doc.Timing() = EngineTiming{1, 1, 1, 10, 1, 1, 1, 1};

  auto update =
      std::async(std::launch::async, [&] { return UpdateDevice(doc, target, SerialSettings{}); });
  ++counts->runs;
  if (update.wait_for(bound) != std::future_status::ready) {
    ++counts->hangs;
    counts->problems.push_back(std::string(family.family) + " seed " + std::to_string(seed) +
                               ": no outcome within the bound");
    console.State().cancel.Request();
    server.Stop();
  }
  const int status = update.get();
  server.Stop();
  counts->faultsInjected += server.Device().FaultsInjected() + (config.faults.busy ? 1 : 0) +
                            (config.faults.silenceFromFrame >= 0 ? 1 : 0) +
                            (config.faults.disconnectAtFrame >= 0 ? 1 : 0);
  if (!IsUpdateSuccess(status)) return;
  ++counts->successes;
  const auto programmed = server.Device().Programmed();
  std::string why = "fewer programmed phases than the procedure has";
  bool holds = programmed.size() >= family.phases.size();
  for (std::size_t p = 0; holds && p < family.phases.size(); ++p) {
    holds = HoldsImage(programmed[p], *doc.File().MemMap(family.phases[p].slot), family.phases[p],
                       &why);
  }
  if (!holds) {
    ++counts->falseSuccesses;
    counts->problems.push_back(std::string(family.family) + " seed " + std::to_string(seed) +
                               ": reported successful but " + why);
  }
}

}  // namespace vel::testing
