#include "WalkController.h"

#include <QEventLoop>
#include <algorithm>
#include <filesystem>

#include "DeviceListModel.h"
#include "JobEventQueue.h"
#include "common/Strings.h"
#include "devices/DeviceWalks.h"
#include "widgets/AppStyle.h"

namespace zandorui {

namespace {

const QString kWaitingForOperator = QStringLiteral("Waiting for the operator ...");
const QString kNotReached = QStringLiteral(" (not reached)");

}  // namespace

WalkController::WalkController(DeviceListModel& rows, QObject* parent)
    : QObject(parent),
      rows_(rows),
      queue_(new JobEventQueue([this](vel::JobEvent& event) { Apply(event); }, this)),
      jobs_(std::make_unique<vel::DeviceJobs>(*queue_)) {}

WalkController::~WalkController() { jobs_.reset(); }

WalkController::StartResult WalkController::Start(vel::JobOptions options,
                                                  const std::string& firmwareDigest) {
  if (running_) return StartResult::kRefused;
  const vel::DeviceList& list = rows_.List();
  const auto ticked = std::count_if(list.Rows().begin(), list.Rows().end(),
                                    [](const vel::DeviceEntry& entry) { return entry.checked; });
  if (ticked == 0) return StartResult::kNoRowTicked;
  // Every row goes to the walk, which takes a row only when it is ticked as the walk reaches it.
  std::vector<vel::JobRow> rows;
  std::vector<std::size_t> indices;
  std::vector<vel::ReportedRow> reported;
  for (std::size_t r = 0; r < list.Count(); ++r) {
    rows.push_back(vel::RowOfList(r, list.Row(r)));
    indices.push_back(r);
    reported.push_back(vel::ReportedRowOfList(r, list.Row(r)));
  }
  options.liveRows = rows_.Live();
  // The operator acknowledges each message in its box before its row goes on.
  options.messagesWait = true;
  const vel::JobKind kind = options.kind;
  // Each walk starts clean: its ticked rows and the panel keep nothing of the last one.
  walk_ = WalkRows(indices, options.parallel > 1);
  for (std::size_t r = 0; r < list.Count(); ++r) {
    if (list.Row(r).checked) SetRowStatus(r, QString(), false);
  }
  vel::WalkFacts facts{kind,
                       options.firmwarePath.empty()
                           ? std::string()
                           : std::filesystem::path(options.firmwarePath).filename().string(),
                       firmwareDigest};
  auto report = std::make_unique<vel::WalkReport>(std::move(reported), std::move(facts));
  if (!jobs_->Start(std::move(rows), std::move(options))) return StartResult::kRefused;
  report_ = std::move(report);
  kind_ = kind;
  running_ = true;
  cancelled_ = false;
  emit Started();
  return StartResult::kStarted;
}

void WalkController::Cancel() {
  if (!running_) return;
  // Questions not yet shown are never shown, and those open close: their workers stop waiting
  // when cancelled.
  cancelled_ = true;
  jobs_->CancelAll();
  emit Cancelling();
}

void WalkController::RunUntilEnded() {
  if (!running_) return;
  QEventLoop ending;
  connect(this, &WalkController::Finished, &ending, &QEventLoop::quit);
  ending.exec();
}

QString WalkController::RowLabel(std::size_t row) const {
  const vel::DeviceList& list = rows_.List();
  return row < list.Count() ? Qs(DeviceLabel(list.Row(row), row)) : QString();
}

std::vector<vel::ReportLine> WalkController::ReportLines() const {
  return WalkEnded() ? report_->Lines() : std::vector<vel::ReportLine>{};
}

std::vector<std::size_t> WalkController::RowsToRetry() const {
  return vel::ChooseRowsToRetry(rows_.List(), ReportLines()).listRows;
}

void WalkController::Apply(vel::JobEvent& event) {
  using Kind = vel::JobEvent::Kind;
  if (report_ != nullptr) report_->Observe(event);
  switch (event.kind()) {
    case Kind::kStatusLogged:
    case Kind::kLogLine:
      // Every line names its device, one row at a time as side by side.
      emit LogLine(walk_.Find(event.row) != nullptr
                       ? RowLabel(event.row) + QStringLiteral(": ") + Qs(event.Text())
                       : Qs(event.Text()));
      return;
    case Kind::kMessage: {
      const auto& message = event.As<vel::job::Message>();
      emit MessageArrived(event.row, Qs(message.text), message.question);
      return;
    }
    case Kind::kQuestion: {
      const auto& question = event.As<vel::job::Question>().question;
      if (cancelled_) {
        question->Answer(false);
        return;
      }
      emit QuestionAsked(event.row, question);
      return;
    }
    case Kind::kWalkFinished:
      FinishWalk(event.As<vel::job::WalkFinished>());
      return;
    case Kind::kRowSkipped:
      // Unticked before the walk came to it: the row is not part of this walk, its Status stays.
      walk_.Drop(event.row);
      return;
    default:
      break;
  }
  if (!walk_.Apply(event)) return;
  const auto* finished = event.If<vel::job::RowFinished>();
  if (finished != nullptr) FinishRow(event.row, *finished);
  ShowRowStatus(event.row);
  if (walk_.PanelRow() == event.row || finished != nullptr) ShowPanel();
}

void WalkController::SetRowStatus(std::size_t row, const QString& text, bool succeeded) {
  rows_.SetOutcome(row, text.toStdString(), succeeded);
}

bool WalkController::RowFinished(std::size_t row) const {
  const RowView* view = walk_.Find(row);
  return view != nullptr && view->finished;
}

void WalkController::ShowRowStatus(std::size_t row) {
  if (row >= rows_.List().Count()) return;
  const RowView* view = walk_.Find(row);
  SetRowStatus(row, Qs(walk_.StatusText(row)), view != nullptr && view->succeeded);
}

void WalkController::ShowWaitingForOperator(std::size_t row) {
  rows_.SetOutcome(row, kWaitingForOperator.toStdString(), false);
}

void WalkController::ShowPanel() {
  const auto row = walk_.PanelRow();
  const RowView* view = row ? walk_.Find(*row) : nullptr;
  if (view != nullptr && *row < rows_.List().Count()) emit PanelChanged(*row, *view);
}

void WalkController::FinishRow(std::size_t row, const vel::job::RowFinished& finished) {
  if (row >= rows_.List().Count()) return;
  const std::string hint = LinuxHint(rows_.List().Row(row), finished.outcome);
  if (!hint.empty()) walk_.AddNote(row, hint);
  // The log keeps every row's outcome as its Status says it, with its notes.
  emit LogLine(RowLabel(row) + QStringLiteral(": ") + Qs(walk_.StatusText(row)));
  emit RowEnded(row);
}

void WalkController::FinishWalk(const vel::job::WalkFinished& event) {
  running_ = false;
  // Rows a cancel kept the walk from reaching say so, as `zandor` does.
  if (event.cancelled) {
    for (std::size_t row : walk_.NotReached()) {
      if (row >= rows_.List().Count()) continue;
      SetRowStatus(row, Qs(vel::LoadString(vel::ids::kOperationCancelled)) + kNotReached, false);
    }
  }
  ShowPanel();
  const QString tally = QStringLiteral("%1 of %2 ticked devices succeeded.")
                            .arg(walk_.Succeeded())
                            .arg(walk_.Rows().size());
  QString summary;
  if (kind_ == vel::JobKind::kUpdate && event.allSucceeded && !event.cancelled) {
    summary = Qs(vel::LoadString(vel::ids::kUpdateSuccessful));
    const auto noted = walk_.OutcomeNotes();
    if (!noted.empty()) summary += QLatin1Char('\n');
    for (const auto& [row, note] : noted) summary += QLatin1Char('\n') + RowLabel(row) + Qs(note);
  }
  emit Finished(tally, summary);
}

}  // namespace zandorui
