#include "engine/StatusDisplay.h"

#include <algorithm>

#include "common/Strings.h"

namespace vel {

bool StatusDisplay::BeginProgress(int low, int high, const std::string& text, int step) {
  bool expected = false;
  if (!active_.compare_exchange_strong(expected, true)) return false;
  LogStatusLine(text);
  std::lock_guard<std::mutex> lock(mutex_);
  paint_.low = low;
  paint_.high = high;
  paint_.position = low;
  step_ = step;
  statusLine_ = text;
  Paint();
  return true;
}

bool StatusDisplay::SetStatus(const std::string& text) { return Advance(true, 0, text); }

bool StatusDisplay::SetProgress(int position, const std::string& text) {
  return Advance(false, position, text);
}

bool StatusDisplay::SetProgressLazily(int position, FunctionRef<std::string()> makeText) {
  // A person reads a status line for a good while; frames come by the thousand a second.
  constexpr auto kRepaintInterval = std::chrono::milliseconds(40);
  if (!active_.load() || KeepsEveryStatusLine()) return SetProgress(position, makeText());
  std::lock_guard<std::mutex> lock(mutex_);
  paint_.position = position;
  const auto now = std::chrono::steady_clock::now();
  if (now - lastPaint_ >= kRepaintInterval) {
    lastPaint_ = now;
    statusLine_ = makeText();
    Paint();
  }
  return true;
}

bool StatusDisplay::Advance(bool stepping, int position, const std::string& text) {
  if (!active_.load()) {
    if (!text.empty()) {
      ShowStatusLine(text);
      LogStatusLine(std::string(vel::text::kInactiveMessage) + text);
    }
    return false;
  }
  if (!text.empty()) LogStatusLine(text);
  std::lock_guard<std::mutex> lock(mutex_);
  paint_.position = stepping ? paint_.position + step_ : position;
  if (!text.empty()) statusLine_ = text;
  Paint();
  return true;
}

void StatusDisplay::Paint() { ShowProgress(paint_, statusLine_); }

bool StatusDisplay::EndProgress() {
  if (!active_.exchange(false)) return false;
  HideProgress();
  return true;
}

void StatusDisplay::PlanFrames(long long frames) {
  std::lock_guard<std::mutex> lock(mutex_);
  planned_ = std::max(frames, 0LL);
  paint_.overallPercent = 0;
}

void StatusDisplay::FramesSent(long long frames) {
  // The last percent belongs to the plan's completion: an update is whole only when it succeeded.
  constexpr long long kShortOfComplete = 99;
  std::lock_guard<std::mutex> lock(mutex_);
  if (planned_ <= 0) return;
  const long long share = std::clamp(frames, 0LL, planned_) * 100 / planned_;
  paint_.overallPercent = static_cast<int>(
      std::max<long long>(paint_.overallPercent, std::min(share, kShortOfComplete)));
}

void StatusDisplay::CompletePlan() {
  std::lock_guard<std::mutex> lock(mutex_);
  paint_.overallPercent = 100;
  if (active_.load()) Paint();
}

}  // namespace vel
