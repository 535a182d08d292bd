#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vel {

// A request to cancel the running device operation. It stays requested until the operation it
// was aimed at has ended and the next one clears it; every wait of the engine and the link looks
// at it, and a pause wakes at once when it is requested.
class CancelFlag {
 public:
  void Request() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requested_ = true;
    }
    changed_.notify_all();
  }
  void Clear() { requested_ = false; }
  bool IsRequested() const { return requested_.load(); }
  // Sleeps for the time unless a cancel is requested first; false when it was.
  bool SleepFor(std::chrono::milliseconds time) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return !changed_.wait_for(lock, time, [this] { return requested_.load(); });
  }

 private:
  std::atomic<bool> requested_{false};
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
};

}  // namespace vel
