#include "engine/Console.h"

#include "common/Strings.h"

namespace vel {

bool Console::BeginProgress(int low, int high, const std::string& text, int step) {
  bool expected = false;
  if (!active_.compare_exchange_strong(expected, true)) return false;
  LogStatusLine(text);
  std::lock_guard<std::mutex> lock(mutex_);
  low_ = low;
  high_ = high;
  position_ = low;
  step_ = step;
  statusLine_ = text;
  ShowProgress(low, high, low, text);
  return true;
}

bool Console::SetStatus(const std::string& text) { return Advance(true, 0, text); }

bool Console::SetProgress(int position, const std::string& text) {
  return Advance(false, position, text);
}

bool Console::SetProgressLazily(int position, FunctionRef<std::string()> makeText) {
  // A person reads a status line for a good while; frames come by the thousand a second.
  constexpr auto kRepaintInterval = std::chrono::milliseconds(40);
  if (!active_.load() || KeepsEveryStatusLine()) return SetProgress(position, makeText());
  std::lock_guard<std::mutex> lock(mutex_);
  position_ = position;
  const auto now = std::chrono::steady_clock::now();
  if (now - lastPaint_ >= kRepaintInterval) {
    lastPaint_ = now;
    statusLine_ = makeText();
    ShowProgress(low_, high_, position_, statusLine_);
  }
  return true;
}

bool Console::Advance(bool stepping, int position, const std::string& text) {
  if (!active_.load()) {
    if (!text.empty()) {
      ShowStatusLine(text);
      LogStatusLine(std::string(vel::text::kInactiveMessage) + text);
    }
    return false;
  }
  if (!text.empty()) LogStatusLine(text);
  std::lock_guard<std::mutex> lock(mutex_);
  position_ = stepping ? position_ + step_ : position;
  if (!text.empty()) statusLine_ = text;
  ShowProgress(low_, high_, position_, statusLine_);
  return true;
}

bool Console::EndProgress() {
  if (!active_.exchange(false)) return false;
  HideProgress();
  return true;
}

}  // namespace vel
