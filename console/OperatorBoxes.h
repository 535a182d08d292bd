#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "devices/DeviceJobs.h"

class QDialog;
class QWidget;

namespace zandorui {

class MessageLog;
class VersionDialog;
class WalkController;

// Tells the operator something in a box over `over`, titled with its window's title.
void Inform(QWidget& over, const QString& text);

// The boxes a walk opens for the operator: its rows' messages and questions one at a time, in
// the order they came, each titled with the device it is about; the version window of an update
// run opens at once beside them, so that a box holding one row never holds the others. A box
// whose row's worker no longer waits (the walk was cancelled, the row ended) closes, answered
// No, and one not yet open never opens. The Yes/No questions and their answers go to the log.
class OperatorBoxes : public QObject {
  Q_OBJECT
 public:
  OperatorBoxes(QWidget& over, WalkController& walk, MessageLog& log);

  // Opens a box once the current batch of events is applied and the boxes before it are closed.
  void ShowLater(std::function<void()> box);
  // A box is open or waits for its turn.
  bool Busy() const { return showing_ || !waiting_.empty(); }

 private:
  void ShowNext();
  void ShowMessage(std::size_t row, const QString& text,
                   const std::shared_ptr<vel::JobQuestion>& question);
  void Ask(std::size_t row, const std::shared_ptr<vel::JobQuestion>& question);
  void Answer(std::size_t row, const std::shared_ptr<vel::JobQuestion>& question);
  void AskYesNo(std::size_t row, vel::JobQuestion& question);
  // Runs a box that holds a row's worker until it is closed; nothing when it was closed because
  // nobody waits for its answer any more.
  std::optional<int> Hold(std::size_t row, QDialog& box);
  // Nobody waits for an answer about the row: its walk was cancelled or it has ended.
  bool Settled(std::size_t row) const;
  // Closes the boxes and version windows of `row`, or of every row.
  void CloseSettled(std::optional<std::size_t> row);
  // The version window of an update run, opened beside the queue of boxes.
  void OpenVersionWindow(std::size_t row, const std::shared_ptr<vel::JobQuestion>& question);
  void OpenNextVersionWindow();
  void TitleVersionWindow(std::size_t row, VersionDialog& dialog) const;
  // The title of a box about one row: the window's, then the device it is about.
  QString RowTitle(std::size_t row) const;
  void Log(std::size_t row, const QString& text);

  // The box open now that holds a row's worker; `settled` once it was closed for that.
  struct HeldBox {
    QPointer<QDialog> box;
    std::size_t row = 0;
    bool settled = false;
  };

  QWidget& over_;
  WalkController& walk_;
  MessageLog& log_;
  std::deque<std::function<void()>> waiting_;
  bool showing_ = false;
  std::optional<HeldBox> held_;
  // The version windows of update runs open now, beside the queue (nothing queued opens over
  // them), with their rows.
  std::vector<std::pair<std::size_t, QPointer<VersionDialog>>> openVersionWindows_;
  // Version windows of update runs that wait for the one opened last to settle.
  std::deque<std::pair<std::size_t, std::shared_ptr<vel::JobQuestion>>> versionWindows_;
  bool versionWindowSettling_ = false;
  unsigned versionWindowCount_ = 0;
};

}  // namespace zandorui
