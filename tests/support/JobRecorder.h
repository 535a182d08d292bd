#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "devices/DeviceJobs.h"
#include "devices/DeviceList.h"
#include "devices/VersionCheck.h"

namespace vel::testing {

// Keeps a job's events. Unless told to leave them, it answers questions as it receives them (on
// the worker's thread): devices are confirmed as the automatic confirmation does, the
// not-responding question with `cancelOnSilence`.
class JobRecorder final : public JobEventSink {
 public:
  void Publish(JobEvent event) override {
    if (const auto* question = event.If<job::Question>(); question && answerQuestions) {
      Answer(*question->question);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
    pending_.push_back(std::move(event));
    arrived_.notify_all();
  }

  void Answer(JobQuestion& question) const {
    if (question.GetKind() == JobQuestion::Kind::kYesNo) {
      question.Answer(question.GetQuestion() == Question::kNotResponding ? cancelOnSilence
                                                                         : acceptUnknown);
      return;
    }
    ConfirmationRequest request = *question.Request();
    VersionCheck check(request);
    const bool accepted = check.Evaluate() == VersionCheck::OkOutcome::kAccepted;
    if (accepted) check.Accept(check.InitialSerialText());
    question.Answer(accepted, check.Choices());
  }

  std::vector<JobEvent> Events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  // The next event not yet taken, waiting for it up to `timeout`.
  std::optional<JobEvent> Take(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!arrived_.wait_for(lock, timeout, [this] { return !pending_.empty(); })) return {};
    JobEvent event = std::move(pending_.front());
    pending_.pop_front();
    return event;
  }
  std::vector<JobEvent> Of(JobEvent::Kind kind) const {
    std::vector<JobEvent> found;
    for (const JobEvent& e : Events()) {
      if (e.kind() == kind) found.push_back(e);
    }
    return found;
  }
  std::optional<job::RowFinished> FinishedRow(std::size_t row) const {
    for (const JobEvent& e : Of(JobEvent::Kind::kRowFinished)) {
      if (e.row == row) return e.As<job::RowFinished>();
    }
    return {};
  }
  // The walk's end (a walk that did not end: not succeeded, not cancelled).
  job::WalkFinished Walked() const {
    const auto ended = Of(JobEvent::Kind::kWalkFinished);
    return ended.empty() ? job::WalkFinished{} : ended.front().As<job::WalkFinished>();
  }
  bool Messaged(const std::string& text) const {
    for (const JobEvent& e : Of(JobEvent::Kind::kMessage)) {
      if (e.Text() == text) return true;
    }
    return false;
  }

  bool answerQuestions = true;
  bool cancelOnSilence = true;
  bool acceptUnknown = false;

 private:
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<JobEvent> events_;
  std::deque<JobEvent> pending_;
};

// What a front end does with a row event: its list's Status cell follows (on the list's thread).
inline void ApplyToList(const JobEvent& event, DeviceList& list) {
  if (event.kind() == JobEvent::Kind::kRowBegun) list.SetStatus(event.row, event.Text());
  if (const auto* finished = event.If<job::RowFinished>()) {
    list.SetOutcome(event.row, finished->text + finished->notes,
                    finished->outcome == Outcome::kSucceeded);
  }
}

}  // namespace vel::testing
