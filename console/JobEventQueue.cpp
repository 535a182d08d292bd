#include "JobEventQueue.h"

#include <unordered_set>

namespace zandorui {

namespace {

// A worker waits on a question or on a message it must see acknowledged.
bool IsUrgent(const vel::JobEvent& event) {
  using Kind = vel::JobEvent::Kind;
  return event.kind == Kind::kQuestion || event.kind == Kind::kRowFinished ||
         event.kind == Kind::kWalkFinished || (event.kind == Kind::kMessage && event.question);
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
    queued_.push_back(std::move(event));
    if (urgent && !drainPosted_) post = drainPosted_ = true;
  }
  if (post) QMetaObject::invokeMethod(this, &JobEventQueue::Drain, Qt::QueuedConnection);
}

void JobEventQueue::Drain() {
  std::vector<vel::JobEvent> batch;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    batch.swap(queued_);
    drainPosted_ = false;
  }
  // Only the latest progress of each row is shown; its status lines reach the log as events of
  // their own, so nothing is lost by skipping the earlier ones.
  std::unordered_set<std::size_t> progressSeen;
  std::vector<bool> superseded(batch.size(), false);
  for (std::size_t i = batch.size(); i-- > 0;) {
    if (batch[i].kind != vel::JobEvent::Kind::kProgress) continue;
    superseded[i] = !progressSeen.insert(batch[i].row).second;
  }
  for (std::size_t i = 0; i < batch.size(); ++i) {
    if (!superseded[i]) handler_(batch[i]);
  }
}

}  // namespace zandorui
