#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "devices/DeviceJobs.h"

namespace zandorui {

// Carries a job's events from its workers to the user-interface thread: workers only queue them;
// the UI thread takes the whole queue about 30 times a second and applies it in order (a long
// batch in parts, the event loop running in between), so a repaint happens once per batch and
// nothing is lost. A question, a finished row or the end of a walk is taken at once, since a
// worker or the operator waits on it. The user-interface thread never waits for the queue: while
// a worker holds it, the events stay for the next drain.
class JobEventQueue : public QObject, public vel::JobEventSink {
  Q_OBJECT
 public:
  static constexpr int kDrainIntervalMs = 33;
  // The longest a drain applies events before it lets the event loop run.
  static constexpr int kDrainBudgetMs = 10;
  using Handler = std::function<void(vel::JobEvent&)>;

  explicit JobEventQueue(Handler handler, QObject* parent = nullptr);

  void Publish(vel::JobEvent event) override;  // any thread
  void Drain();                                // UI thread

 private:
  // Moves the queued events, less the progress that later progress of its row supersedes, to
  // the events being applied; false, leaving them queued, while a worker holds the queue.
  bool TakeQueued();

  friend struct JobEventQueueSeam;  // tests hold the queue as a worker would

  Handler handler_;
  QTimer timer_;
  std::mutex mutex_;
  std::vector<vel::JobEvent> queued_;
  std::unordered_map<std::size_t, std::size_t> lastOfRow_;  // row: its last event in queued_
  bool drainPosted_ = false;
  // UI thread only: the batch being applied and the next of its events.
  std::vector<vel::JobEvent> applying_;
  std::size_t next_ = 0;
};

}  // namespace zandorui
