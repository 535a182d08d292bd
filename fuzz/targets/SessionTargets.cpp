// What support hands back to the program: a session record to replay, and the simulated device's
// state file.
#include <string>

#include "FuzzTargets.h"
#include "SimState.h"
#include "link/SessionRecord.h"

namespace zandor::fuzz {

namespace {

// Any bytes either read (and what was read writes back to a text that reads the same) or are
// refused with a reason.
template <class Parse, class Format, class Same>
int ReadsBackAlike(const std::uint8_t* data, std::size_t size, Parse parse, Format format,
                   Same same) {
  std::string error;
  const auto first = parse(std::string(reinterpret_cast<const char*>(data), size), &error);
  if (!first) {
    Require(!error.empty());
    return 0;
  }
  const auto again = parse(format(*first), &error);
  Require(again.has_value() && same(*first, *again));
  return 0;
}

bool SameRecord(const vel::SessionRecord& a, const vel::SessionRecord& b) {
  if (a.link != b.link || a.status != b.status || a.statusText != b.statusText ||
      a.program != b.program || a.events.size() != b.events.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.events.size(); ++i) {
    if (vel::wire::FormatEvent(a.events[i]) != vel::wire::FormatEvent(b.events[i])) return false;
  }
  return true;
}

}  // namespace

int SessionRecordTarget(const std::uint8_t* data, std::size_t size) {
  const auto parse = [](const std::string& text, std::string* error) {
    auto record = vel::ParseSession(text);
    if (!record) *error = record.error();
    return record ? std::optional(std::move(*record)) : std::nullopt;
  };
  return ReadsBackAlike(data, size, parse, vel::FormatSession, SameRecord);
}

int SimStateTarget(const std::uint8_t* data, std::size_t size) {
  return ReadsBackAlike(data, size, sim::ParseSimState, sim::FormatSimState,
                        [](const sim::SimState& a, const sim::SimState& b) {
                          return a.memory == b.memory && a.units.size() == b.units.size();
                        });
}

}  // namespace zandor::fuzz
