#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "common/CancelFlag.h"
#include "common/Result.h"

namespace vel {

// How often a wait outside the device link looks again at what it waits for and at its stop.
constexpr auto kWaitPollStep = std::chrono::milliseconds(50);
// How long such a wait lasts before the one waiting is told.
constexpr auto kWaitNoticeAfter = std::chrono::seconds(1);

// A wait for something outside the device link (a lock, a reader of a FIFO, a line typed at a
// terminal): it ends when `stop` is requested or after `limit`, and `onSlow` is called once when
// it has lasted kWaitNoticeAfter.
struct WaitControl {
  const CancelFlag* stop = nullptr;
  std::chrono::milliseconds limit = std::chrono::milliseconds::max();
  std::function<void()> onSlow = nullptr;
};

enum class WaitEnd { kDone, kStopped, kTimedOut };

// Calls `attempt` until it returns true, again after every kWaitPollStep.
WaitEnd WaitUntil(const WaitControl& wait, const std::function<bool()>& attempt);

// Opens `path` for writing with `flags` (beside O_WRONLY) without ever blocking: a FIFO that no
// one reads yet is waited for under `wait`. The descriptor (non-blocking).
Expected<int> OpenForWriting(const std::string& path, int flags, mode_t mode,
                             const WaitControl& wait);

// Writes all of `contents` to a non-blocking descriptor, waiting under `wait` while it takes no
// more (a FIFO whose reader is slow).
Result WriteWaiting(int fd, std::string_view contents, const WaitControl& wait);

}  // namespace vel
