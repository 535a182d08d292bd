#include "JobEventQueue.h"

namespace zandorui {

namespace {

bool IsUrgent(vel::JobEvent::Kind kind) {
  using Kind = vel::JobEvent::Kind;
  return kind == Kind::kQuestion || kind == Kind::kRowFinished || kind == Kind::kWalkFinished;
}

}  // namespace

JobEventQueue::JobEventQueue(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {
  timer_.setInterval(kDrainIntervalMs);
  connect(&timer_, &QTimer::timeout, this, &JobEventQueue::Drain);
  timer_.start();
}

void JobEventQueue::Publish(vel::JobEvent event) {
  const bool urgent = IsUrgent(event.kind);
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
  for (vel::JobEvent& event : batch) handler_(event);
}

}  // namespace zandorui
