#pragma once

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "common/Clock.h"

namespace vel::testing {

// A clock shared by the threads of one exchange (the engine's and its simulated device's) that
// moves only when every one of them waits on it and none has input waiting: then it jumps to the
// nearest end of a wait. A silence of a minute costs what the exchange costs, not a minute.
//
// The thread that makes the clock is its first party; AddParty counts one more before its thread
// starts, RemoveParty when it ends. A party that waits outside the clock (joining another party's
// thread, say) says so with OffClock, so that the others' time still moves.
class VirtualClock final : public Clock {
 public:
  VirtualClock() = default;
  VirtualClock(const VirtualClock&) = delete;
  VirtualClock& operator=(const VirtualClock&) = delete;

  void AddParty() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++parties_;
  }
  void RemoveParty() {
    std::lock_guard<std::mutex> lock(mutex_);
    --parties_;
    AdvanceIfAllWait();
  }

  // While it lives, the thread that made it counts as waiting for ever.
  class OffClock {
   public:
    explicit OffClock(VirtualClock& clock) : clock_(clock) {
      std::lock_guard<std::mutex> lock(clock_.mutex_);
      ++clock_.offClock_;
      clock_.AdvanceIfAllWait();
    }
    ~OffClock() {
      std::lock_guard<std::mutex> lock(clock_.mutex_);
      --clock_.offClock_;
    }
    OffClock(const OffClock&) = delete;
    OffClock& operator=(const OffClock&) = delete;

   private:
    VirtualClock& clock_;
  };

  TimePoint Now() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return now_;
  }

  bool SleepFor(std::chrono::milliseconds time, const CancelFlag* cancel) override {
    Wait(-1, time, cancel);
    return cancel == nullptr || !cancel->IsRequested();
  }

  short WaitForInput(int fd, std::chrono::milliseconds limit) override {
    return Wait(fd, limit, nullptr);
  }

  // How far the clock has moved since it was made.
  std::chrono::milliseconds Elapsed() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Now() - TimePoint{});
  }

 private:
  // A party's wait: what it waits for, until when, and the descriptor that wakes it.
  struct Waiter {
    int fd;
    const CancelFlag* cancel;
    TimePoint until;
    int wake;

    // Whether the wait is about to end without time passing.
    bool Ending() const { return InputOf(fd) != 0 || (cancel != nullptr && cancel->IsRequested()); }
  };

  // How long a waiter sleeps for real before it looks again at a cancel it may not be told of.
  static constexpr int kRecheckMs = 20;

  static short InputOf(int fd) {
    if (fd < 0) return 0;
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) > 0 ? p.revents : 0;
  }

  // Each thread's own wake-up descriptor, made on its first wait.
  static int WakeDescriptor() {
    struct Owned {
      int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
      ~Owned() { close(fd); }
    };
    thread_local Owned owned;
    if (owned.fd < 0) std::abort();
    return owned.fd;
  }

  short Wait(int fd, std::chrono::milliseconds limit, const CancelFlag* cancel) {
    const int wake = WakeDescriptor();
    TimePoint until;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      until = limit < std::chrono::milliseconds(0) ? TimePoint::max() : now_ + limit;
    }
    for (;;) {
      if (cancel != nullptr && cancel->IsRequested()) return 0;
      if (const short events = InputOf(fd)) return events;
      Waiter self{fd, cancel, until, wake};
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (now_ >= until) return 0;
        waiting_.push_back(&self);
        AdvanceIfAllWait();
        if (now_ >= until) {
          Forget(&self);
          return 0;
        }
      }
      pollfd p[2] = {{wake, POLLIN, 0}, {fd, POLLIN, 0}};
      poll(p, fd < 0 ? 1 : 2, kRecheckMs);
      std::uint64_t drained = 0;
      while (read(wake, &drained, sizeof drained) > 0) {
      }
      std::lock_guard<std::mutex> lock(mutex_);
      Forget(&self);
    }
  }

  void Forget(const Waiter* waiter) {
    waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), waiter), waiting_.end());
  }

  // With the lock held: when every party waits and none has input, time moves to the nearest
  // end of a wait and every waiter looks again.
  void AdvanceIfAllWait() {
    if (static_cast<int>(waiting_.size()) + offClock_ < parties_ || waiting_.empty()) return;
    TimePoint nearest = TimePoint::max();
    for (const Waiter* w : waiting_) {
      if (w->Ending()) return;
      nearest = std::min(nearest, w->until);
    }
    if (nearest == TimePoint::max()) return;  // every party waits for ever: nothing to jump to
    now_ = std::max(now_, nearest);
    const std::uint64_t one = 1;
    for (const Waiter* w : waiting_) {
      if (write(w->wake, &one, sizeof one) < 0) std::abort();
    }
  }

  std::mutex mutex_;
  TimePoint now_{};
  int parties_ = 1;  // the thread that made the clock
  int offClock_ = 0;
  std::vector<Waiter*> waiting_;
};

// Counts a thread as a party of `clock` (when there is one) for as long as it lives.
class ClockParty {
 public:
  explicit ClockParty(VirtualClock* clock) : clock_(clock) {}
  ~ClockParty() {
    if (clock_ != nullptr) clock_->RemoveParty();
  }
  ClockParty(const ClockParty&) = delete;
  ClockParty& operator=(const ClockParty&) = delete;

 private:
  VirtualClock* clock_;
};

}  // namespace vel::testing
