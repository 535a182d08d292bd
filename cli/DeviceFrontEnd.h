#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "LogFile.h"
#include "common/CancelFlag.h"
#include "devices/DeviceJobs.h"
#include "devices/KeyMask.h"
#include "devices/VersionCheck.h"

namespace zandor {

// How the command-line front end talks: a progress bar on a terminal, plain lines otherwise,
// or one JSON object per event; the message log optionally into a file.
struct Presentation {
  std::ostream& out;
  std::ostream& err;
  bool errIsTerminal = false;
  bool json = false;
  LogFile* log = nullptr;
  const vel::CancelFlag* interrupt = nullptr;  // ends a wait for the operator's answer
  bool quiet = false;                          // results and messages only
};

// The operator's side on the command line: answers from the terminal where there is one,
// otherwise from the options.
struct OperatorChoices {
  bool yes = false;             // accept what would need the operator's word
  bool cancelOnSilence = true;  // --on-silence=cancel|wait
  std::string serialNumber;     // --serial-number
  bool interactive = false;     // standard input is a terminal
};

// One device's result as the run ends it: "TARGET: STATUS", or a JSON result event.
struct DeviceLine {
  std::string label;
  int statusCode = 0;
  std::string text;
  bool success = false;
  bool interrupted = false;  // cut in the middle of its transfer: to be run again
  bool current = false;      // already held the file's firmware: left alone
};

// A row of a job as the output names it: in every line, and in its result line.
struct NamedRow {
  std::size_t row = 0;
  std::string label;
  std::string resultLabel;
  std::string portName;  // a serial row's port ("COM3"), whose device path the log names
};

// Shows a job's events as zandor prints them: per device its progress, log lines, messages and
// version check, answers the engine's questions, and ends each device with its result line, in
// the order of the rows. Events arrive from the job's worker threads.
class CliJobView final : public vel::JobEventSink {
 public:
  // Every label and text it shows or logs is masked with `mask`.
  CliJobView(Presentation presentation, OperatorChoices choices, std::vector<NamedRow> rows,
             vel::KeyMask mask = vel::KeyMask());
  void Publish(vel::JobEvent event) override;

  // After the job: with `interrupted`, reports every row that never began as cancelled; returns
  // whether every row succeeded.
  bool Close(bool interrupted);
  // A line of the run itself, not of a device (the walk's summary).
  void Message(const std::string& label, const std::string& text);
  bool WalkSucceeded() const { return walkSucceeded_; }

 private:
  struct RowView {
    int shownPercent = -1;  // of the running operation's paints
    int shownQuarter = 0;   // the last quarter of the update a plain line told
    std::string operationText;
    std::chrono::steady_clock::time_point lastPaint{};
    bool lineOpen = false;
    std::string lastLine;   // the last line shown for the row
    std::string lastEvent;  // the last --json progress event's fields
  };

  // Writes to standard output or error, noting in the log when the stream has been closed or
  // cannot be written, and why (the run goes on without it).
  void Emit(std::ostream& stream, const std::string& text);
  // A line for the terminal or the log: one line, escaped, and no key in it whatever the engine
  // or the operator's targets put there.
  std::string OneLine(const std::string& text) const;
  void WriteLog(const std::string& device, const std::string& line);
  void LogLine(std::size_t row, const std::string& line);
  // Shows a line of the row's log or a message for it, above any progress line.
  void ShowLine(std::size_t row, const std::string& text);
  // Erases the progress line from a terminal before anything else is printed.
  void ClearProgressLine();
  void ShowPort(std::size_t row);
  // Shows the share of the row's update done (which never goes back) and its status line.
  void Progress(std::size_t row, int overallPercent, const std::string& statusLine);
  void EndProgress(std::size_t row);
  void ShowMessage(std::size_t row, const std::string& text);
  void Answer(std::size_t row, vel::JobQuestion& question);
  bool AskYesNo(std::size_t row, vel::Question question, const std::string& text);
  bool ConfirmDevice(std::size_t row, vel::ConfirmationRequest& request);
  bool AskTerminal(const std::string& question);
  // Shows the prompt and reads the answer; nothing when the input ends or the run is stopped.
  std::optional<std::string> AskTerminalLine(const std::string& prompt);
  void PrintVersionCheck(std::size_t row, const vel::VersionCheck& check);
  bool ChooseSerialNumber(std::size_t row, const vel::VersionCheck& check, std::string* serial);
  void Finished(std::size_t row, const vel::job::RowFinished& finished);
  void PrintReadyResults();
  void PrintResult(const DeviceLine& line);
  const std::string& Label(std::size_t row) const { return rows_[position_.at(row)].label; }

  Presentation p_;
  OperatorChoices choices_;
  vel::KeyMask mask_;
  std::vector<NamedRow> rows_;                   // their labels masked
  std::map<std::size_t, std::size_t> position_;  // row -> its place in rows_
  std::mutex lock_;                              // one writer at a time across threads and devices
  bool outClosedNoted_ = false;
  bool errClosedNoted_ = false;
  std::map<std::size_t, RowView> views_;
  std::vector<std::optional<DeviceLine>> results_;
  std::size_t nextResult_ = 0;
  bool walkSucceeded_ = false;
  bool progressOnScreen_ = false;  // a row's progress line is painted on the terminal
};

}  // namespace zandor
