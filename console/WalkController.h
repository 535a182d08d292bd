#pragma once

#include <QObject>
#include <QString>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "WalkRows.h"
#include "devices/DeviceJobs.h"
#include "devices/DeviceList.h"
#include "devices/WalkReport.h"

namespace zandorui {

class DeviceListModel;
class JobEventQueue;

// Runs the check and update walks over the ticked rows of the device list. It owns the job
// facade and the queue that carries its workers' events to the user-interface thread, applies
// them there on the queue's short timer, keeps each row's outcome in the list (through its model)
// and says what changed through its signals. A row's tick is read when the walk reaches it: a row
// unticked meanwhile is passed over, one ticked meanwhile is walked. It never waits on a device.
class WalkController : public QObject {
  Q_OBJECT
 public:
  enum class StartResult { kStarted, kNoRowTicked, kRefused };

  explicit WalkController(DeviceListModel& rows, QObject* parent = nullptr);
  ~WalkController() override;

  // Starts a walk of `options.kind` over the ticked rows; `firmwareDigest` names the loaded file in
  // the report.
  StartResult Start(vel::JobOptions options, const std::string& firmwareDigest = {});
  // Cancels the running rows; questions not yet answered are answered No.
  void Cancel();
  // Runs the event loop until the running walk has ended and every row's end has been applied:
  // its outcome is in the list, the log and the report. The rows stop at a cancel within a
  // tenth of a second, or at the end of their lock waits.
  void RunUntilEnded();
  bool Running() const { return running_; }
  bool Cancelled() const { return cancelled_; }
  vel::JobKind Kind() const { return kind_; }
  // Forgets the rows of the last walk (a new file starts clean). Its report stays: a failed
  // walk is retried with another file.
  void Forget() { walk_ = WalkRows(); }

  // A walk has ended since the program started: its report can be saved and its rows retried.
  bool WalkEnded() const { return report_ != nullptr && !running_; }
  // The last ended walk's report, row by row and unit by unit; empty before any walk ended.
  std::vector<vel::ReportLine> ReportLines() const;
  // The rows of the list that the last ended walk did not bring to success.
  std::vector<std::size_t> RowsToRetry() const;

  // The row has ended in the running (or the last) walk.
  bool RowFinished(std::size_t row) const;
  // Shows a row's own status again (a box that held it opens).
  void ShowRowStatus(std::size_t row);
  // Shows that a row waits for a box about another device to close.
  void ShowWaitingForOperator(std::size_t row);
  // "Hub (127.0.0.1:4001)": the device a row's box or log line is about; empty for no row.
  QString RowLabel(std::size_t row) const;

 signals:
  void Started();
  // The panel's row changed its progress, status line or units.
  void PanelChanged(std::size_t row, const zandorui::RowView& view);
  void LogLine(const QString& text);
  // A message for the operator; with a question the row's worker waits for its OK.
  void MessageArrived(std::size_t row, const QString& text,
                      const std::shared_ptr<vel::JobQuestion>& question);
  void QuestionAsked(std::size_t row, const std::shared_ptr<vel::JobQuestion>& question);
  // The walk is being cancelled: no worker of it waits for an answer any more.
  void Cancelling();
  // A row has ended: its worker waits for no answer any more.
  void RowEnded(std::size_t row);
  // The walk ended: `tally` says how many rows succeeded, `successSummary` is the box an
  // update that succeeded everywhere shows (empty otherwise).
  void Finished(const QString& tally, const QString& successSummary);

 private:
  friend struct WalkControllerSeam;  // tests shorten the waits of the walks' documents
  void Apply(vel::JobEvent& event);
  void FinishRow(std::size_t row, const vel::job::RowFinished& finished);
  void FinishWalk(const vel::job::WalkFinished& event);
  void SetRowStatus(std::size_t row, const QString& text, bool succeeded);
  void ShowPanel();

  DeviceListModel& rows_;
  vel::JobKind kind_ = vel::JobKind::kUpdate;
  bool running_ = false;
  bool cancelled_ = false;
  WalkRows walk_;
  // What the walk came to, gathered from the events as they are applied.
  std::unique_ptr<vel::WalkReport> report_;
  // Declared last: destroyed first, so that no worker publishes into a queue that is gone.
  JobEventQueue* queue_;
  std::unique_ptr<vel::DeviceJobs> jobs_;
};

}  // namespace zandorui
