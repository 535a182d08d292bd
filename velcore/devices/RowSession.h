#pragma once

// What one row of a walk runs with: the engine's display and operator that turn everything the
// engine shows or asks into the row's events, and the row's document.
#include <memory>
#include <string>
#include <vector>

#include "devices/DeviceJobs.h"
#include "devices/DeviceJobsSeam.h"
#include "engine/VelUpdateDoc.h"
#include "image/SharedFirmware.h"

namespace vel {

// The engine's display for one row: everything it shows becomes an event of that row. The hooks
// of one form (working and file controls) are the front end's business per walk, not per row.
class RowDisplay final : public StatusDisplay {
 public:
  RowDisplay(std::size_t row, JobEventSink& sink, bool logStatusLines)
      : row_(row), sink_(sink), logStatusLines_(logStatusLines) {}
  void AppendMessage(const std::string& line) override { Send(JobEvent::Kind::kLogLine, line); }
  void HideDeviceInfo() override { Send(JobEvent::Kind::kUnitsHidden, {}); }
  void ShowDeviceUnits(const std::vector<UnitLabel>& units) override {
    JobEvent event = Make(JobEvent::Kind::kUnits, {});
    event.units = units;
    sink_.Publish(std::move(event));
  }

 protected:
  void ShowProgress(const ProgressPaint& paint, const std::string& statusLine) override {
    JobEvent event = Make(JobEvent::Kind::kProgress, statusLine);
    event.low = paint.low;
    event.high = paint.high;
    event.position = paint.position;
    event.overallPercent = paint.overallPercent;
    sink_.Publish(std::move(event));
  }
  void HideProgress() override { Send(JobEvent::Kind::kProgressEnded, {}); }
  void ShowStatusLine(const std::string& text) override { Send(JobEvent::Kind::kStatusLine, text); }
  bool KeepsEveryStatusLine() const override { return logStatusLines_; }
  void LogStatusLine(const std::string& line) override {
    if (logStatusLines_) Send(JobEvent::Kind::kStatusLogged, line);
  }

 private:
  JobEvent Make(JobEvent::Kind kind, const std::string& text) const {
    JobEvent event;
    event.kind = kind;
    event.row = row_;
    event.text = text;
    return event;
  }
  void Send(JobEvent::Kind kind, const std::string& text) { sink_.Publish(Make(kind, text)); }

  std::size_t row_;
  JobEventSink& sink_;
  bool logStatusLines_;
};

// The engine's operator for one row: messages become events, questions wait for the front end.
class RowOperator final : public Operator {
 public:
  RowOperator(std::size_t row, JobEventSink& sink, const CancelFlag& cancel, bool messagesWait)
      : row_(row), sink_(sink), cancel_(cancel), messagesWait_(messagesWait) {}
  void ShowMessage(const std::string& text) override {
    if (messagesWait_) {
      Ask(std::make_shared<JobQuestion>(JobQuestion::Kind::kAcknowledge, Question::kNotResponding,
                                        text),
          JobEvent::Kind::kMessage);
      return;
    }
    JobEvent event;
    event.kind = JobEvent::Kind::kMessage;
    event.row = row_;
    event.text = text;
    sink_.Publish(std::move(event));
  }
  bool AskYesNo(Question question, const std::string& text) override {
    return Ask(std::make_shared<JobQuestion>(JobQuestion::Kind::kYesNo, question, text)).yes;
  }
  // The front end gets a copy of the request and answers with its choices; nothing of this
  // worker's stack reaches another thread.
  bool ConfirmDevice(ConfirmationRequest& request) override {
    const JobAnswer answer = Ask(std::make_shared<JobQuestion>(request));
    if (answer.choices) answer.choices->ApplyTo(request.device);
    return answer.yes;
  }

 private:
  JobAnswer Ask(const std::shared_ptr<JobQuestion>& question,
                JobEvent::Kind kind = JobEvent::Kind::kQuestion) {
    JobEvent event;
    event.kind = kind;
    event.row = row_;
    event.text = question->Text();
    event.question = question;
    sink_.Publish(std::move(event));
    return question->WaitForAnswer(cancel_);
  }

  std::size_t row_;
  JobEventSink& sink_;
  const CancelFlag& cancel_;
  bool messagesWait_;
};

// One row while it runs: its display, operator and document.
struct RowSession {
  RowSession(std::size_t row, JobEventSink& sink, const JobOptions& options,
             const DocumentPreparation* preparation, std::shared_ptr<SharedFirmware> firmware)
      : display(row, sink, options.logStatusLines),
        op(row, sink, display.State().cancel, options.messagesWait),
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
