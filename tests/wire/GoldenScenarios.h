#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "SampleGen.h"
#include "SimConfig.h"
#include "common/Clock.h"
#include "engine/EngineTiming.h"
#include "link/LinkKind.h"
#include "wire/RawWire.h"
#include "wire/Transcript.h"
#include "wire/TranscriptPeers.h"

namespace zandor::wire {

// One exchange fixed by a golden transcript: a device of a family (with faults), a firmware
// file, the link, the action and what the operator answers.
struct GoldenScenario {
  std::string name;  // the transcript's file name without ".txt"
  std::string what;  // the exchange in a sentence
  std::string family;
  std::string sample;  // a file of samples/, sent with each segment cut to its first 1 KiB
  vel::LinkKind link = vel::LinkKind::kSerial;
  vel::Action action = vel::Action::kUpdate;
  std::function<void(sim::SimConfig&)> device;  // the device beyond its family
  bool cancelOnSilence = true;                  // the answer to "not responding"
  bool acceptUnknown = false;                   // the answer to an unknown compatibility
  bool serialNumberOptional = false;
  std::string key;         // TCP: the session is enciphered (the transcript holds it deciphered)
  int cancelAtWrite = -1;  // the operator cancels after this write (from 1)
  std::size_t bytesPerSegment = 0x400;  // the sample's segments cut to their first bytes
  // A file made for the scenario instead of the sample (which then names it in the header).
  std::vector<samplegen::ImageSpec> madeFile;
};

const std::vector<GoldenScenario>& GoldenScenarios();

// Runs the scenario's operation against `peer`, which plays or relays the device; the display's
// log lines and the operator's questions and messages go to the same peer. With `realPauses`
// the engine's pauses last as long as they do for an operator, on `clock` when one is given.
// Returns the status code.
int RunGolden(const GoldenScenario& scenario, ScenarioPeer& peer, bool realPauses,
              vel::Clock* clock = nullptr);

// Records the scenario against the simulated device, both on a virtual clock; *violations gets
// what the device did not take, *clockTime (when given) how long the exchange took on the clock.
Transcript RecordGolden(const GoldenScenario& scenario, std::vector<std::string>* violations,
                        std::chrono::milliseconds* clockTime = nullptr);

// Enciphered exchanges kept as the bytes that crossed the socket: scenarios of GoldenScenarios()
// with a key (each one's plain transcript has the same name).
const std::vector<GoldenScenario>& EncipheredScenarios();

// Runs the scenario's operation with the engine's own TCP link to 127.0.0.1:port, without the
// engine's pauses, its IVs from a counter (connect k sends k0 k1 ... kF) and a read time-out of
// 0.8 s. Returns the status code.
int RunEnciphered(const GoldenScenario& scenario, int port);

// Records the enciphered scenario against the simulated device holding the same key, through a
// relay that keeps every byte that crossed the socket; *violations as for RecordGolden.
RawTranscript RecordEnciphered(const GoldenScenario& scenario,
                               std::vector<std::string>* violations);

}  // namespace zandor::wire
