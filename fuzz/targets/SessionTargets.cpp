// What support hands back to the program: a session record to replay, and the simulated device's
// state file.
#include <string>

#include "FuzzTargets.h"
#include "SimState.h"
#include "link/SessionRecord.h"

namespace zandor::fuzz {

namespace {

bool SameEvents(const std::vector<vel::wire::Event>& a, const std::vector<vel::wire::Event>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (vel::wire::FormatEvent(a[i]) != vel::wire::FormatEvent(b[i])) return false;
  }
  return true;
}

}  // namespace

int SessionRecordTarget(const std::uint8_t* data, std::size_t size) {
  std::string error;
  const auto record =
      vel::ParseSession(std::string(reinterpret_cast<const char*>(data), size), &error);
  if (!record) {
    Require(!error.empty());
    return 0;
  }
  // What was read writes back to a record that reads the same.
  const auto again = vel::ParseSession(vel::FormatSession(*record), &error);
  Require(again.has_value());
  Require(again->link == record->link && again->status == record->status &&
          again->statusText == record->statusText && again->program == record->program);
  Require(SameEvents(again->events, record->events));
  return 0;
}

int SimStateTarget(const std::uint8_t* data, std::size_t size) {
  std::string error;
  const auto state =
      sim::ParseSimState(std::string(reinterpret_cast<const char*>(data), size), &error);
  if (!state) {
    Require(!error.empty());
    return 0;
  }
  const auto again = sim::ParseSimState(sim::FormatSimState(*state), &error);
  Require(again.has_value() && again->memory == state->memory &&
          again->units.size() == state->units.size());
  return 0;
}

}  // namespace zandor::fuzz
