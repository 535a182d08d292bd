#pragma once

// Updates against simulated devices with seeded random faults, checking that no update is ever
// reported successful unless the device holds exactly the image's bytes, that every update whose
// faults the protocol can absorb succeeds, and that none hangs.
#include <chrono>
#include <future>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "SimOptions.h"
#include "SimServer.h"
#include "common/Strings.h"
#include "devices/RowOperations.h"
#include "engine/VelUpdateDoc.h"
#include "support/EngineFakes.h"

namespace vel::testing {

// What the runs of one family, or of all, came to.
struct SoakTally {
  int runs = 0;
  int absorbable = 0;  // runs whose faults the protocol can absorb
  int successes = 0;
  int falseSuccesses = 0;
  int notAbsorbed = 0;  // absorbable runs that did not succeed
  int hangs = 0;
  int violations = 0;  // protocol violations the simulated device saw
};

struct SoakCounts {
  SoakTally all;
  int faultsInjected = 0;
  std::map<std::string, SoakTally> byFamily;  // by procedure
  std::vector<std::string> problems;
};

// Whether a family's procedure repeats a block after the result `code` at end of block number
// `ordinal` (from 0) and still ends complete.
using BlockErrorAbsorbed = bool (*)(int ordinal, std::uint8_t code);

struct SoakFamily {
  const char* name;
  const char* family;  // the simulator's family
  const char* sample;
  bool tcp;
  struct Phase {
    int slot;
    std::vector<int> segments;
    bool blankAsZero;
  };
  std::vector<Phase> phases;  // what each programmed record must hold, in order
  BlockErrorAbsorbed absorbed;
  std::vector<std::string> auxiliary = {};  // the unit's auxiliary versions, when not the family's
};

inline bool AlwaysRepeated(int, std::uint8_t) { return true; }
inline bool NeverRepeated(int, std::uint8_t) { return false; }

inline const std::vector<SoakFamily>& SoakFamilies() {
  static const std::vector<SoakFamily> families = {
      {"T1", "matrix", "single-64k.hex", false, {{0, {0xFF}, false}}, AlwaysRepeated},
      {"T12", "multi", "multi-unit.hex", true, {{0, {0, 1}, false}}, AlwaysRepeated},
      {"T2", "kesta128", "kesta-128k.hex", false, {{0, {254, 255}, true}}, NeverRepeated},
      {"T7", "dravik-ypk", "dravik-ypk.hex", false, {{0, {0xFF}, false}}, AlwaysRepeated},
      // A programming error ends the first phase (blocks 1 to 4).
      {"T10",
       "tzt",
       "tzt-two-images.hex",
       false,
       {{0, {0xFF}, false}, {1, {254, 255}, false}},
       [](int ordinal, std::uint8_t code) { return ordinal >= 4 || code != 0xF7; }},
      {"T13",
       "loader",
       "loader-g5.hex",
       true,
       {{0, {0, 1}, false}, {1, {0}, false}},
       AlwaysRepeated},
      {"T6",
       "station",
       "station-three-images.hex",
       false,
       {{0, {0xFF}, false}, {1, {0xFF}, false}, {2, {0xFF}, false}},
       AlwaysRepeated},
      {"T9", "hub", "hub-jqh.hex", false, {{0, {0xFF}, false}}, AlwaysRepeated},
      {"T11",
       "xxx",
       "xxx-two-images.hex",
       false,
       {{0, {0, 1}, false}, {1, {254, 255}, false}},
       AlwaysRepeated},
      {"T2 (YPC)", "dravik-ypc", "dravik-ypc.hex", false, {{0, {254, 255}, true}}, NeverRepeated},
      // The second phase stops on a block error as the 128 KiB procedure does.
      {"T8",
       "dravik-ypa",
       "dravik-ypa.hex",
       false,
       {{0, {0xFF}, false}, {1, {254, 255}, true}},
       [](int ordinal, std::uint8_t) { return ordinal < 64; }},
      {"T3", "dravik", "dravik-128k.hex", false, {{0, {254, 255}, true}}, NeverRepeated},
      // Another auxiliary version: the six sectors with their checksum frame, then the image.
      {"T4",
       "dravik",
       "dravik-128k.hex",
       false,
       {{1, {0, 1, 2, 3, 4, 5}, false}, {0, {254, 255}, true}},
       [](int ordinal, std::uint8_t) { return ordinal < 6 * 64; },
       {"001", "099"}},
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

// Serves `server` the family's way (TCP or a pseudo-terminal); the target that reaches it.
inline DeviceTarget ServeFamily(sim::SimServer& server, const SoakFamily& family) {
  DeviceTarget target;
  if (family.tcp) {
    target.kind = LinkKind::kTcp;
    target.address = "127.0.0.1";
    target.port = std::to_string(server.StartTcp());
  } else {
    target.portName = server.StartPty();
  }
  return target;
}

// Loads the family's sample into `doc` and shortens its link waits (25 ms a serial read) so that
// failure paths run quickly; the protocol's own counts stay as they are.
inline void PrepareQuickDocument(CVelUpdateDoc& doc, const SoakFamily& family,
                                 const std::string& samples) {
  doc.OnOpenDocument(samples + "/" + family.sample);
  doc.Link().Serial().SetTimeouts(25, 1000);
  doc.Link().Tcp().SetWaitStep(10);
  doc.Link().Tcp().SetReconnectPause(5);
  doc.Timing() = EngineTiming{1, 1, 1, 10, 1, 1, 1, 1};
}

// One update of `family` (an index of SoakFamilies) with faults drawn from `seed`: lost,
// corrupted, late, duplicated and 0xF4 acknowledgements, programming delays, block errors, a
// refused unit selection, silence, disconnects and busy. With `heavyLoss`, some runs lose 3 % of
// all acknowledgements.
inline void SoakOnce(std::size_t familyIndex, std::uint32_t seed, const std::string& samples,
                     SoakCounts* counts, std::chrono::seconds bound, bool heavyLoss = false) {
  std::mt19937 random(seed);
  const SoakFamily& family = SoakFamilies()[familyIndex % SoakFamilies().size()];
  sim::SimConfig config;
  sim::ApplyFamily(family.family, &config);
  if (!family.auxiliary.empty()) config.units[0].auxiliary = family.auxiliary;
  config.faults.seed = seed;
  const auto chance = [&random](int percent) { return static_cast<int>(random() % 100) < percent; };
  bool absorbable = true;
  if (chance(40)) config.faults.lostAck = 0.002 * (1 + random() % 3);
  if (heavyLoss && chance(15)) config.faults.lostAck = 0.03;
  if (chance(40)) config.faults.corruptAck = 0.01 * (1 + random() % 3);
  if (chance(30)) {
    config.faults.lateAck = 0.001 * (1 + random() % 2);
    config.faults.lateByMs = 150;  // beyond the shortened read time-outs below
  }
  if (chance(30)) config.faults.duplicateAck = 0.005 * (1 + random() % 3);
  if (chance(30)) config.faults.f4Ack = 0.01;
  if (chance(30)) {
    // Slow blocks: longer than several reads (25 ms below), shorter than the 20 unanswered
    // tries after which the operator is asked, should the end of block's answer be lost too.
    for (int k = 1 + static_cast<int>(random() % 2); k > 0; --k) {
      config.faults.blockDelays[static_cast<int>(random() % 6)] =
          100 + static_cast<int>(random() % 350);
    }
  }
  if (chance(40)) {
    const std::uint8_t codes[] = {0xF6, 0xF7, 0xF8};
    const int ordinal = static_cast<int>(random() % 6);
    const std::uint8_t code = codes[random() % 3];
    config.faults.blockResults[ordinal] = code;
    absorbable = absorbable && family.absorbed(ordinal, code);
  }
  if (family.family == std::string("multi") && chance(25)) {
    config.units = {sim::SimUnit{0, "G4 ", "A1", "100", {}},
                    sim::SimUnit{1, "G4 ", "B2", "100", {}}};
    if (chance(30)) {
      config.faults.selectAnswers[static_cast<int>(random() % 2)] = 0xFE;
      absorbable = false;
    }
  }
  if (chance(10)) config.faults.silenceFromFrame = static_cast<int>(random() % 3000);
  if (family.tcp && chance(10)) config.faults.disconnectAtFrame = static_cast<int>(random() % 3000);
  if (chance(5)) config.faults.busy = true;
  std::string drawn;  // the faults drawn, to tell a problem's cause
  const auto note = [&drawn](const std::string& what, double value) {
    if (value > 0) drawn += " " + what + "=" + std::to_string(value);
  };
  note("lostAck", config.faults.lostAck);
  note("corruptAck", config.faults.corruptAck);
  note("lateAck", config.faults.lateAck);
  note("duplicateAck", config.faults.duplicateAck);
  note("f4Ack", config.faults.f4Ack);
  for (const auto& [block, ms] : config.faults.blockDelays)
    note("delay" + std::to_string(block), ms);
  for (const auto& [block, code] : config.faults.blockResults) {
    note("result" + std::to_string(block), code);
  }
  absorbable = absorbable && config.faults.silenceFromFrame < 0 &&
               config.faults.disconnectAtFrame < 0 && !config.faults.busy;

  sim::SimServer server(config);
  const DeviceTarget target = ServeFamily(server, family);
  RecordingDisplay display;
  ScriptedOperator op;
  CVelUpdateDoc doc(display, op);
  PrepareQuickDocument(doc, family, samples);

  auto update =
      std::async(std::launch::async, [&] { return UpdateDevice(doc, target, SerialSettings{}); });
  SoakTally& tally = counts->byFamily[family.name];
  const std::string run =
      std::string(family.name) + " seed " + std::to_string(seed) + " (" + drawn + " )";
  const auto count = [&](int SoakTally::*field) {
    ++(tally.*field);
    ++(counts->all.*field);
  };
  count(&SoakTally::runs);
  if (update.wait_for(bound) != std::future_status::ready) {
    count(&SoakTally::hangs);
    counts->problems.push_back(run + ": no outcome within the bound");
    display.State().cancel.Request();
    server.Stop();
  }
  const int status = update.get();
  server.Stop();
  counts->faultsInjected += server.Device().FaultsInjected() + (config.faults.busy ? 1 : 0) +
                            (config.faults.silenceFromFrame >= 0 ? 1 : 0) +
                            (config.faults.disconnectAtFrame >= 0 ? 1 : 0);
  for (const std::string& violation : server.Device().Violations()) {
    count(&SoakTally::violations);
    counts->problems.push_back(run + ": protocol violation: " + violation);
  }
  if (absorbable) count(&SoakTally::absorbable);
  if (!IsUpdateSuccess(status)) {
    if (absorbable) {
      count(&SoakTally::notAbsorbed);
      std::string last;  // the log's last lines say where it ended
      const auto log = display.Log();
      for (std::size_t i = log.size() > 4 ? log.size() - 4 : 0; i < log.size(); ++i) {
        last += " / " + log[i];
      }
      for (const std::string& message : op.Messages()) last += " / message: " + message;
      counts->problems.push_back(run + ": faults the protocol absorbs ended in \"" +
                                 LoadString(status) + "\"" + last);
    }
    return;
  }
  count(&SoakTally::successes);
  const auto programmed = server.Device().Programmed();
  // Each unit of the device takes the family's phases in turn.
  const std::size_t units = family.family == std::string("multi") ? config.units.size() : 1;
  std::string why = "fewer programmed phases than the procedure has";
  bool holds = programmed.size() >= family.phases.size() * units;
  for (std::size_t p = 0; holds && p < family.phases.size() * units; ++p) {
    const auto& phase = family.phases[p % family.phases.size()];
    holds = HoldsImage(programmed[p], *doc.File().MemMap(phase.slot), phase, &why);
  }
  if (!holds) {
    count(&SoakTally::falseSuccesses);
    counts->problems.push_back(run + ": reported successful but " + why);
  }
}

}  // namespace vel::testing
