#pragma once

#include <chrono>

#include "common/CancelFlag.h"

namespace vel {

// Where a protocol's waits take their time from: the engine's pauses, the reads of a device
// reached in-process, and the simulated device's own delays and silences. The programs wait on
// the system's steady clock; a test hands the engine and its device one clock that jumps ahead
// whenever every party waits, so that pauses and silences cost no real time.
class Clock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  static constexpr std::chrono::milliseconds kForever{-1};

  virtual ~Clock() = default;
  virtual TimePoint Now() = 0;
  // Sleeps `time` unless `cancel` (when given) is requested first; false when it was.
  virtual bool SleepFor(std::chrono::milliseconds time, const CancelFlag* cancel) = 0;
  // Waits until `fd` has something to tell (bytes, a hang-up, an error) for at most `limit`
  // (kForever: no limit); poll(2)'s returned events, 0 when the time passed.
  virtual short WaitForInput(int fd, std::chrono::milliseconds limit) = 0;
  // Whether this is the system's clock, whose waits a caller may also leave to the kernel.
  virtual bool IsSystem() const { return false; }
};

// The system's steady clock.
Clock& SystemClock();

}  // namespace vel
