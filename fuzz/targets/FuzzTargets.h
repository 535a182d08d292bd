#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zandor::fuzz {

// One fuzz target: a function that takes any bytes and must neither crash nor hang. Each is
// built into a libFuzzer program of its own, and the test suite runs every kept input through
// it again.
struct FuzzTarget {
  const char* name;  // the program's name, e.g. "LoaderFuzz"
  int (*run)(const std::uint8_t* data, std::size_t size);
};

const std::vector<FuzzTarget>& AllTargets();

// The folder name of a target's corpus: "DeviceReplyFuzz" -> "device-reply".
std::string CorpusName(const std::string& targetName);

// Stops the program (a finding) when an invariant fails.
void Require(bool invariant);

int DeviceListTarget(const std::uint8_t* data, std::size_t size);
int LoaderTarget(const std::uint8_t* data, std::size_t size);
int MetadataItemTarget(const std::uint8_t* data, std::size_t size);
int DeviceReplyTarget(const std::uint8_t* data, std::size_t size);
int TransferReplyTarget(const std::uint8_t* data, std::size_t size);
int TargetTextTarget(const std::uint8_t* data, std::size_t size);
int PortMapTarget(const std::uint8_t* data, std::size_t size);
int JsonStringTarget(const std::uint8_t* data, std::size_t size);
int SessionRecordTarget(const std::uint8_t* data, std::size_t size);
int SimStateTarget(const std::uint8_t* data, std::size_t size);
int WalkReportTarget(const std::uint8_t* data, std::size_t size);

}  // namespace zandor::fuzz
