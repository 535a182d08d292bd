#pragma once

#include <string>
#include <vector>

#include "common/ProgressSink.h"

namespace vel::testing {

// A progress sink that records what it is told and can refuse or request cancellation.
class RecordingProgress : public ProgressSink {
 public:
  bool BeginProgress(int low, int high, const std::string& text, int) override {
    if (active || refuseBegin) return false;
    active = true;
    ++begins;
    lastLow = low;
    lastHigh = high;
    log.push_back(text);
    return true;
  }
  bool SetStatus(const std::string& text) override {
    ++steps;
    if (stepsBeforeCancel >= 0 && steps >= stepsBeforeCancel) cancel = true;
    if (!text.empty()) log.push_back(text);
    return active;
  }
  bool SetProgress(int position, const std::string& text) override {
    lastPosition = position;
    ++positions;
    if (!text.empty()) log.push_back(text);
    return active;
  }
  bool EndProgress() override {
    const bool was = active;
    active = false;
    if (was) ++ends;
    return was;
  }
  bool CancelRequested() const override { return cancel; }

  bool active = false;
  bool refuseBegin = false;
  bool cancel = false;
  int stepsBeforeCancel = -1;
  int begins = 0, ends = 0, steps = 0, positions = 0;
  int lastLow = 0, lastHigh = 0, lastPosition = 0;
  std::vector<std::string> log;
};

}  // namespace vel::testing
