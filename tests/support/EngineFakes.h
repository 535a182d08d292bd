#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devices/VersionCheck.h"
#include "engine/EngineContext.h"
#include "engine/Operator.h"
#include "engine/StatusDisplay.h"

namespace vel::testing {

// A display that shows nothing (benchmarks, fuzzing).
class QuietDisplay final : public StatusDisplay {
 public:
  void AppendMessage(const std::string&) override {}

 protected:
  void ShowProgress(const ProgressPaint&, const std::string&) override {}
  void HideProgress() override {}
  bool KeepsEveryStatusLine() const override { return false; }
  void LogStatusLine(const std::string&) override {}
};

// A display that keeps its message log and counts progress operations.
class RecordingDisplay final : public StatusDisplay {
 public:
  void AppendMessage(const std::string& line) override {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(line);
  }
  std::vector<std::string> Log() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
  }
  bool Logged(const std::string& text) const {
    const auto log = Log();
    return std::find(log.begin(), log.end(), text) != log.end();
  }
  int Positions() const { return positions_; }

 protected:
  void ShowProgress(const ProgressPaint&, const std::string&) override { ++positions_; }
  void HideProgress() override {}
  // Status lines too, but not the thousands of per-frame "Try:" lines.
  void LogStatusLine(const std::string& line) override {
    if (line.find("Try:") == std::string::npos) AppendMessage(line);
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> log_;
  std::atomic<int> positions_{0};
};

// An operator whose answers the test sets; it confirms devices as the automatic confirmation
// does and records every message.
class ScriptedOperator final : public Operator {
 public:
  void ShowMessage(const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(text);
  }
  bool AskYesNo(Question question, const std::string&) override {
    // An operator who leaves the first question on the screen for a while.
    const int delayMs = firstAnswerAfterMs.exchange(0);
    if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    std::lock_guard<std::mutex> lock(mutex_);
    if (question == Question::kNotResponding) {
      ++notRespondingAsked_;
      return cancelOnSilence;
    }
    return acceptUnknown;
  }
  bool ConfirmDevice(ConfirmationRequest& request) override {
    ++confirmations_;
    if (declineAll) return false;
    VersionCheck check(request);
    switch (check.Evaluate()) {
      case VersionCheck::OkOutcome::kAccepted:
        break;
      case VersionCheck::OkOutcome::kAskCompatibility:
        if (!acceptUnknown) return false;
        break;
      default:
        return false;
    }
    check.Accept(check.InitialSerialText());
    return true;
  }
  std::vector<std::string> Messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }
  bool Shown(const std::string& text) const {
    const auto m = Messages();
    return std::find(m.begin(), m.end(), text) != m.end();
  }
  int NotRespondingAsked() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return notRespondingAsked_;
  }
  int Confirmations() const { return confirmations_; }

  std::atomic<bool> cancelOnSilence{true};
  std::atomic<bool> acceptUnknown{false};
  std::atomic<bool> declineAll{false};
  std::atomic<int> firstAnswerAfterMs{0};

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> messages_;
  int notRespondingAsked_ = 0;
  std::atomic<int> confirmations_{0};
};

// Everything an engine context names, owned together, for a test of one piece of the engine:
// no pauses, the operator's answers set by the test.
template <class DisplayType>
struct EngineParts {
  DisplayType display;
  ScriptedOperator op;
  DeviceLink link;
  FirmwareFile file;
  DeviceIdentity identity;
  EngineTiming timing{0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EngineContext ctx{display, op, link, file, identity, timing};
};

}  // namespace vel::testing
