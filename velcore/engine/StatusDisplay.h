#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "common/CancelFlag.h"
#include "common/FunctionRef.h"
#include "common/ProgressSink.h"
#include "engine/DeviceIdentity.h"

namespace vel {

// Values the front end keeps and the engine reads and writes from any thread.
struct DisplayState {
  CancelFlag cancel;
};

// What a progress display paints.
struct ProgressPaint {
  int low = 0, high = 0, position = 0;  // the running operation's bar (a countdown runs down)
  int overallPercent = 0;               // the share of the whole update done; it never goes back
};

// The engine's view of a front end: progress, status, message log and the form's controls.
// The progress rules are the same for every front end and live here; a front end only paints.
// Every operation may be called from a worker thread.
class StatusDisplay : public ProgressSink {
 public:
  bool BeginProgress(int low, int high, const std::string& text, int step) final;
  bool SetStatus(const std::string& text) final;
  bool SetProgress(int position, const std::string& text) final;
  bool EndProgress() final;
  // As SetProgress, for texts that change with every frame: the text is made only when it will
  // be seen, that is when the front end keeps every status line or a repaint is due.
  bool SetProgressLazily(int position, FunctionRef<std::string()> makeText);
  bool CancelRequested() const final { return state_.cancel.IsRequested(); }
  bool ProgressActive() const { return active_.load(); }

  // The share of the whole update done, carried by every paint, which only grows until the next
  // plan: the engine plans the frames its transfer sends (a new plan starts at 0), says how many
  // of them have gone out, and completes the plan when the update succeeded. Short of that it
  // stays below 100, also when frames went again after an error.
  void PlanFrames(long long frames);
  void FramesSent(long long frames);
  void CompletePlan();

  // One line of the message log.
  virtual void AppendMessage(const std::string& line) = 0;
  virtual void HideDeviceInfo() {}
  virtual void ShowDeviceUnits(const std::vector<UnitLabel>& /*units*/) {}

  DisplayState& State() { return state_; }

 protected:
  // The progress display changed: paint it (coalesce repaints as you like). Called under the
  // display's lock: it must not call back into the display.
  virtual void ShowProgress(const ProgressPaint& paint, const std::string& statusLine) = 0;
  virtual void HideProgress() = 0;
  // Whether LogStatusLine keeps every status line; a front end that keeps none lets the
  // display skip texts nobody would see.
  virtual bool KeepsEveryStatusLine() const { return true; }
  // A status line while no progress operation runs.
  virtual void ShowStatusLine(const std::string& /*text*/) {}
  // A status line going to the message log; front ends that show progress on their own may keep
  // these out of their visible log.
  virtual void LogStatusLine(const std::string& line) { AppendMessage(line); }

 private:
  bool Advance(bool stepping, int position, const std::string& text);
  void Paint();  // under the lock

  DisplayState state_;
  std::atomic<bool> active_{false};
  mutable std::mutex mutex_;  // guards the fields below
  ProgressPaint paint_;
  int step_ = 1;
  long long planned_ = 0;  // frames of the plan; 0: none yet
  std::string statusLine_;
  std::chrono::steady_clock::time_point lastPaint_{};
};

}  // namespace vel
