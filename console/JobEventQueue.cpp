#include "JobEventQueue.h"

#include <QElapsedTimer>
#include <unordered_set>

namespace zandorui {

namespace {

// A worker waits on a question or on a message it must see acknowledged.
bool IsUrgent(const vel::JobEvent& event) {
  using Kind = vel::JobEvent::Kind;
  const auto* message = event.If<vel::job::Message>();
  return event.kind() == Kind::kQuestion || event.kind() == Kind::kRowFinished ||
         event.kind() == Kind::kWalkFinished || (message != nullptr && message->question);
}

}  // namespace

JobEventQueue::JobEventQueue(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {
  timer_.setInterval(kDrainIntervalMs);
  connect(&timer_, &QTimer::timeout, this, &JobEventQueue::Drain);
  timer_.start();
}

void JobEventQueue::Publish(vel::JobEvent event) {
  const bool urgent = IsUrgent(event);
  bool post = false;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    // Progress right after the row's own progress replaces it: only the latest is shown, and
    // hundreds of rows side by side would otherwise queue hundreds of thousands of events.
    const auto last = lastOfRow_.find(event.row);
    if (event.kind() == vel::JobEvent::Kind::kProgress && last != lastOfRow_.end() &&
        queued_[last->second].kind() == vel::JobEvent::Kind::kProgress) {
      queued_[last->second] = std::move(event);
      return;
    }
    lastOfRow_[event.row] = queued_.size();
    queued_.push_back(std::move(event));
    if (urgent && !drainPosted_) post = drainPosted_ = true;
  }
  if (post) QMetaObject::invokeMethod(this, &JobEventQueue::Drain, Qt::QueuedConnection);
}

void JobEventQueue::Drain() {
  if (next_ == applying_.size() && !TakeQueued()) return;
  // A long batch is applied in parts, the event loop running in between, so that hundreds of
  // rows side by side never hold the user-interface thread for long.
  QElapsedTimer clock;
  clock.start();
  while (next_ < applying_.size()) {
    handler_(applying_[next_++]);
    if (next_ < applying_.size() && clock.elapsed() >= kDrainBudgetMs) {
      QMetaObject::invokeMethod(this, &JobEventQueue::Drain, Qt::QueuedConnection);
      return;
    }
  }
}

bool JobEventQueue::TakeQueued() {
  std::vector<vel::JobEvent> batch;
  {
    // A worker holds the lock only to queue one event, but the workers of a long walk run at a
    // lower priority than this thread and one may be put off a processor while holding it: the
    // user-interface thread never waits for that. The next drain, at most one interval later,
    // takes what is queued then.
    std::unique_lock<std::mutex> guard(mutex_, std::try_to_lock);
    if (!guard.owns_lock()) return false;
    batch.swap(queued_);
    lastOfRow_.clear();
    drainPosted_ = false;
  }
  // Only the latest progress of each row is shown; its status lines reach the log as events of
  // their own, so nothing is lost by skipping the earlier ones.
  std::unordered_set<std::size_t> progressSeen;
  std::vector<bool> superseded(batch.size(), false);
  for (std::size_t i = batch.size(); i-- > 0;) {
    if (batch[i].kind() != vel::JobEvent::Kind::kProgress) continue;
    superseded[i] = !progressSeen.insert(batch[i].row).second;
  }
  applying_.clear();
  next_ = 0;
  for (std::size_t i = 0; i < batch.size(); ++i) {
    if (!superseded[i]) applying_.push_back(std::move(batch[i]));
  }
  return true;
}

}  // namespace zandorui
