#pragma once

// What one row of a walk runs with: the engine's display and operator that turn everything the
// engine shows or asks into the row's events, and the row's document.
#include <memory>
#include <string>
#include <vector>

#include "devices/DeviceJobs.h"
#include "devices/DeviceJobsSeam.h"
#include "devices/VersionCheck.h"
#include "engine/VelUpdateDoc.h"
#include "image/SharedFirmware.h"

namespace vel {

// The engine's display for one row: everything it shows becomes an event of that row. The hooks
// of one form (working and file controls) are the front end's business per walk, not per row.
class RowDisplay final : public StatusDisplay {
 public:
  RowDisplay(std::size_t row, JobEventSink& sink, bool logStatusLines)
      : row_(row), sink_(sink), logStatusLines_(logStatusLines) {}
  void AppendMessage(const std::string& line) override { Send(job::LogLine{line}); }
  void HideDeviceInfo() override { Send(job::UnitsHidden{}); }
  void ShowDeviceUnits(const std::vector<UnitLabel>& units) override { Send(job::Units{units}); }

 protected:
  void ShowProgress(const ProgressPaint& paint, const std::string& statusLine) override {
    Send(job::Progress{paint.low, paint.high, paint.position, paint.overallPercent, statusLine});
  }
  void HideProgress() override { Send(job::ProgressEnded{}); }
  void ShowStatusLine(const std::string& text) override { Send(job::StatusLine{text}); }
  bool KeepsEveryStatusLine() const override { return logStatusLines_; }
  void LogStatusLine(const std::string& line) override {
    if (logStatusLines_) Send(job::StatusLogged{line});
  }

 private:
  void Send(JobEvent::What what) { sink_.Publish({row_, std::move(what)}); }

  std::size_t row_;
  JobEventSink& sink_;
  bool logStatusLines_;
};

// The engine's operator for one row: messages become events, questions wait for the front end.
class RowOperator final : public Operator {
 public:
  RowOperator(std::size_t row, JobEventSink& sink, const CancelFlag& cancel, bool messagesWait,
              bool skipCurrent)
      : row_(row),
        sink_(sink),
        cancel_(cancel),
        messagesWait_(messagesWait),
        skipCurrent_(skipCurrent) {}
  void ShowMessage(const std::string& text) override {
    if (messagesWait_) {
      Ask(std::make_shared<JobQuestion>(JobQuestion::Kind::kAcknowledge, Question::kNotResponding,
                                        text),
          true);
      return;
    }
    sink_.Publish({row_, job::Message{text, nullptr}});
  }
  bool AskYesNo(Question question, const std::string& text) override {
    return Ask(std::make_shared<JobQuestion>(JobQuestion::Kind::kYesNo, question, text)).yes;
  }
  // The front end gets a copy of the request and answers with its choices; nothing of this
  // worker's stack reaches another thread.
  bool ConfirmDevice(ConfirmationRequest& request) override {
    if (skipCurrent_ && EffectOfUpdate(request) == UpdateEffect::kCurrent) {
      const VersionCheck chosen(request);  // the images it holds, for the row's report
      foundCurrent_ = true;
      return false;  // nothing to send: the device is left as it is
    }
    const JobAnswer answer = Ask(std::make_shared<JobQuestion>(request));
    if (answer.choices) answer.choices->ApplyTo(request.device);
    return answer.yes;
  }
  // The device already held the file's firmware and was left alone.
  bool FoundCurrent() const { return foundCurrent_; }

 private:
  // Publishes the question (as a message to acknowledge, or a question) and waits for its answer.
  JobAnswer Ask(const std::shared_ptr<JobQuestion>& question, bool asMessage = false) {
    if (asMessage) {
      sink_.Publish({row_, job::Message{question->Text(), question}});
    } else {
      sink_.Publish({row_, job::Question{question->Text(), question}});
    }
    return question->WaitForAnswer(cancel_);
  }

  std::size_t row_;
  JobEventSink& sink_;
  const CancelFlag& cancel_;
  bool messagesWait_;
  bool skipCurrent_;
  bool foundCurrent_ = false;
};

// One row while it runs: its display, operator and document.
struct RowSession {
  RowSession(std::size_t row, JobEventSink& sink, const JobOptions& options,
             const DocumentPreparation* preparation, std::shared_ptr<SharedFirmware> firmware)
      : display(row, sink, options.logStatusLines),
        op(row, sink, display.State().cancel, options.messagesWait, options.skipCurrent),
        doc(display, op) {
    doc.ShareLoads(std::move(firmware));
    doc.SetSerialNumberOptional(options.serialNumberOptional);
    doc.Link().Tcp().SetConnectTimeout(options.connectTimeoutMs);
    if (preparation != nullptr) preparation->prepare(doc);
  }
  RowDisplay display;
  RowOperator op;
  CVelUpdateDoc doc;
};

}  // namespace vel
