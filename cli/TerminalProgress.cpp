#include "TerminalProgress.h"

#include <algorithm>

namespace zandor {

bool TerminalProgress::BeginProgress(int low, int high, const std::string& text, int step) {
  if (active_) return false;
  active_ = true;
  low_ = low;
  high_ = std::max(high, low);
  step_ = step;
  position_ = low;
  text_ = text;
  shownPercent_ = -1;
  Repaint();
  return true;
}

bool TerminalProgress::SetStatus(const std::string& text) {
  return SetProgress(position_ + step_, text);
}

bool TerminalProgress::SetProgress(int position, const std::string& text) {
  if (!text.empty()) {
    text_ = text;
    shownPercent_ = -1;
  }
  if (!active_) return false;
  position_ = position;
  Repaint();
  return true;
}

bool TerminalProgress::EndProgress() {
  if (!active_) return false;
  active_ = false;
  if (enabled_) out_ << "\r\033[K" << std::flush;
  return true;
}

void TerminalProgress::Repaint() {
  if (!enabled_) return;
  const long long span = static_cast<long long>(high_) - low_;
  const long long done = std::clamp<long long>(static_cast<long long>(position_) - low_, 0, span);
  const int percent = span > 0 ? static_cast<int>(done * 100 / span) : 100;
  if (percent == shownPercent_) return;
  shownPercent_ = percent;
  constexpr int kWidth = 30;
  const int filled = percent * kWidth / 100;
  out_ << "\r\033[K[" << std::string(filled, '#') << std::string(kWidth - filled, '.') << "] "
       << percent << "% " << text_ << std::flush;
}

}  // namespace zandor
