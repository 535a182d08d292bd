#include <chrono>
#include <mutex>

#include "devices/DeviceJobs.h"

namespace vel {

namespace {

// How often a row waiting for the front end's answer looks at its cancel.
constexpr auto kAnswerPoll = std::chrono::milliseconds(50);

}  // namespace

void JobQuestion::Answer(bool yes) { Give({yes, std::nullopt}); }

void JobQuestion::Answer(bool yes, const DeviceChoices& choices) { Give({yes, choices}); }

void JobQuestion::Give(JobAnswer answer) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    answer_ = std::move(answer);
  }
  answered_.notify_all();
}

JobAnswer JobQuestion::WaitForAnswer(const CancelFlag& cancel) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!answer_) {
    if (cancel.IsRequested()) return {};
    answered_.wait_for(lock, kAnswerPoll);
  }
  return *answer_;
}

}  // namespace vel
