#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <mutex>
#include <vector>

#include "devices/DeviceJobs.h"

namespace zandorui {

// Carries a job's events from its workers to the user-interface thread: workers only queue them;
// the UI thread takes the whole queue about 30 times a second and applies it in order, so a
// repaint happens once per batch and nothing is lost. A question, a finished row or the end of a
// walk is taken at once, since a worker or the operator waits on it.
class JobEventQueue : public QObject, public vel::JobEventSink {
  Q_OBJECT
 public:
  static constexpr int kDrainIntervalMs = 33;
  using Handler = std::function<void(vel::JobEvent&)>;

  explicit JobEventQueue(Handler handler, QObject* parent = nullptr);

  void Publish(vel::JobEvent event) override;  // any thread
  void Drain();                                // UI thread

 private:
  Handler handler_;
  QTimer timer_;
  std::mutex mutex_;
  std::vector<vel::JobEvent> queued_;
  bool drainPosted_ = false;
};

}  // namespace zandorui
