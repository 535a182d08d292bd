#pragma once

// An update that a power failure cuts at one eighth of its transfer, then run again against the
// same simulated device, which restarted keeping its identification and what it had programmed.
#include <string>
#include <vector>

#include "support/Soak.h"

namespace vel::testing {

struct PowerCutRun {
  int cleanFrames = 0;       // transfer frames of an update nothing cuts
  int cutAt = 0;             // the frame (from 1) at which the power failed
  bool powerCut = false;     // the device saw it
  DeviceResult cut;          // the update that was cut
  std::string cutText;       // its row's Status text
  DeviceResult again;        // the same update run again
  std::string imageProblem;  // empty when the device holds exactly the image afterwards
  std::vector<std::string> violations;
};

constexpr int kQuickReadMs = 100;  // a serial read's time-out in the runs below

// The device's memory holds the file's image for each of the family's phases, in order.
inline std::string ImageProblem(const sim::DeviceMemory& memory, const FirmwareFile& file,
                                const SoakFamily& family) {
  if (memory.size() != family.phases.size()) {
    return "the device holds " + std::to_string(memory.size()) + " images, the family sends " +
           std::to_string(family.phases.size());
  }
  std::size_t p = 0;
  for (const auto& [area, segments] : memory) {
    const SoakFamily::Phase& phase = family.phases[p++];
    if (file.MemMap(phase.slot) == nullptr)
      return "the update never read image " + std::to_string(p - 1);
    sim::ProgrammedUnit unit;
    unit.segments = segments;
    std::string why;
    if (!HoldsImage(unit, *file.MemMap(phase.slot), phase, &why)) {
      return "image " + std::to_string(p - 1) + ": " + why;
    }
  }
  return {};
}

// A document with the family's file for one update, its waits short.
struct QuickDocument {
  QuickDocument(const SoakFamily& family, const std::string& samples) {
    PrepareQuickDocument(doc, family, samples);
    // Reads long enough for a loaded machine's device to answer a restart's identification.
    doc.Link().Serial().SetTimeouts(kQuickReadMs, 1000);
    doc.Link().Tcp().SetWaitStep(kQuickReadMs / 2);
  }
  DeviceResult Update(const DeviceTarget& target) {
    return RunUpdate(doc, target, SerialSettings{});
  }
  RecordingDisplay display;
  ScriptedOperator op;
  CVelUpdateDoc doc{display, op};
};

inline sim::SimConfig FamilyDevice(const SoakFamily& family) {
  sim::SimConfig config;
  sim::ApplyFamily(family.family, &config);
  if (!family.auxiliary.empty()) config.units[0].auxiliary = family.auxiliary;
  config.faults.restartQuietMs = 4 * kQuickReadMs;  // longer than the host's reads
  return config;
}

// The transfer frames of an update that nothing cuts.
inline int CleanFrames(const SoakFamily& family, const std::string& samples) {
  sim::SimServer server(FamilyDevice(family));
  const DeviceTarget target = ServeFamily(server, family);
  QuickDocument(family, samples).Update(target);
  server.Stop();
  return server.Device().FramesReceived();
}

inline PowerCutRun CutAndRunAgain(const SoakFamily& family, const std::string& samples, int eighth,
                                  int cleanFrames) {
  PowerCutRun run;
  run.cleanFrames = cleanFrames;
  run.cutAt = std::max(1, cleanFrames * eighth / 8);
  sim::SimConfig config = FamilyDevice(family);
  config.faults.powerCutAtFrame = run.cutAt;
  sim::SimServer server(config);
  const DeviceTarget target = ServeFamily(server, family);
  run.cut = QuickDocument(family, samples).Update(target);
  run.cutText = UpdateResultText(run.cut);
  run.powerCut = server.Device().PowerWasCut();
  // The restarted device on a serial line hears again once the line was quiet.
  std::this_thread::sleep_for(std::chrono::milliseconds(2 * config.faults.restartQuietMs));
  QuickDocument again(family, samples);
  run.again = again.Update(target);
  server.Stop();
  run.imageProblem = ImageProblem(server.Device().Memory(), again.doc.File(), family);
  run.violations = server.Device().Violations();
  return run;
}

}  // namespace vel::testing
