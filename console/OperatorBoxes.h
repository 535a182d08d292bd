#pragma once

#include <QObject>
#include <QString>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <utility>

#include "devices/DeviceJobs.h"

class QWidget;

namespace zandorui {

class MessageLog;
class VersionDialog;
class WalkController;

// Tells the operator something in a box over `over`, titled with its window's title.
void Inform(QWidget& over, const QString& text);

// The boxes a walk opens for the operator: its rows' messages and questions one at a time, in
// the order they came, each titled with the device it is about; the version window of an update
// run opens at once beside them, so that a box holding one row never holds the others.
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
  // The version window of an update run, opened beside the queue of boxes.
  void OpenVersionWindow(std::size_t row, const std::shared_ptr<vel::JobQuestion>& question);
  void OpenNextVersionWindow();
  void TitleVersionWindow(std::size_t row, VersionDialog& dialog) const;
  // The title of a box about one row: the window's, then the device it is about.
  QString RowTitle(std::size_t row) const;

  QWidget& over_;
  WalkController& walk_;
  MessageLog& log_;
  std::deque<std::function<void()>> waiting_;
  bool showing_ = false;
  int confirmationsOpen_ = 0;  // version windows of update runs, opened beside the queue
  // Version windows of update runs that wait for the one opened last to settle.
  std::deque<std::pair<std::size_t, std::shared_ptr<vel::JobQuestion>>> versionWindows_;
  bool versionWindowSettling_ = false;
  unsigned versionWindowCount_ = 0;
};

}  // namespace zandorui
