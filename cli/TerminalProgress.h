#pragma once

#include <ostream>
#include <string>

#include "common/ProgressSink.h"

namespace zandor {

// Shows progress as one self-rewriting line on a terminal; shows nothing when the stream is not
// a terminal. Repaints only when the shown percentage changes.
class TerminalProgress final : public vel::ProgressSink {
 public:
  TerminalProgress(std::ostream& out, bool isTerminal) : out_(out), enabled_(isTerminal) {}

  bool BeginProgress(int low, int high, const std::string& text, int step) override;
  bool SetStatus(const std::string& text) override;
  bool SetProgress(int position, const std::string& text) override;
  bool EndProgress() override;
  bool CancelRequested() const override { return false; }

 private:
  void Repaint();

  std::ostream& out_;
  bool enabled_;
  bool active_ = false;
  int low_ = 0, high_ = 0, step_ = 1, position_ = 0;
  int shownPercent_ = -1;
  std::string text_;
};

}  // namespace zandor
