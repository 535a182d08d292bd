#include "common/Clock.h"

#include <poll.h>

#include <thread>

namespace vel {

namespace {

class SteadyClock final : public Clock {
 public:
  TimePoint Now() override { return std::chrono::steady_clock::now(); }

  bool SleepFor(std::chrono::milliseconds time, const CancelFlag* cancel) override {
    if (cancel != nullptr) return cancel->SleepFor(time);
    std::this_thread::sleep_for(time);
    return true;
  }

  short WaitForInput(int fd, std::chrono::milliseconds limit) override {
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(limit.count()));
    return ready > 0 ? p.revents : 0;
  }

  bool IsSystem() const override { return true; }
};

}  // namespace

Clock& SystemClock() {
  static SteadyClock clock;
  return clock;
}

}  // namespace vel
