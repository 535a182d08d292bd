#pragma once

// Reads a wire transcript on its own and names every host write that breaks the rules of the
// framed transfer: frame checksums; blocks announced, filled in address order and closed;
// records inside their block and of the procedure's block size; checksum frames equal to the
// data actually sent; unit-select frames; the unformatted send's text lines. It computes
// everything from the bytes and never calls the engine, so a fault the engine recorded into a
// transcript fails here on its own, before the transcript is played back.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "wire/Transcript.h"

namespace zandor::wire {

// What an exchange may send once the device is identified.
enum class Procedure {
  kIdentifyOnly,  // no firmware: any transfer frame is a fault
  kUnformatted,   // the file's text lines as they are
  kT1,
  kT2,
  kT3,
  kT4,
  kT6,
  kT7,
  kT8,
  kT9,
  kT10,
  kT11,
  kT12,
  kT13
};

// The procedure called "T1" .. "T13"; nothing for any other name.
std::optional<Procedure> ProcedureNamed(const std::string& name);

struct ReaderFault {
  std::size_t event = 0;  // the index of the write in the transcript's events
  std::string rule;       // the rule it breaks, with the values seen
};

std::vector<ReaderFault> ReadTranscript(const Transcript& transcript, Procedure procedure);

// The line (from 1) of the transcript's text that each event stands on, in the events' order.
std::vector<int> EventLines(const std::string& text);

}  // namespace zandor::wire
