#pragma once

#include <string>

namespace vel {

// The progress operations a long-running core operation reports through. The display of each
// front end implements them; the core never sees a widget.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  // Starts a progress operation; false when one is already running (nothing changes then).
  virtual bool BeginProgress(int low, int high, const std::string& text, int step) = 0;
  // Advances the bar one step; a non-empty text becomes the status line and goes to the log.
  virtual bool SetStatus(const std::string& text) = 0;
  // As SetStatus, but sets the bar to the position instead of stepping.
  virtual bool SetProgress(int position, const std::string& text) = 0;
  // Ends the running operation; false when none was running.
  virtual bool EndProgress() = 0;
  // True once the operator asked to cancel the running operation.
  virtual bool CancelRequested() const = 0;
};

}  // namespace vel
