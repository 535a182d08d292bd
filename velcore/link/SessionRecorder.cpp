#include "link/SessionRecorder.h"

#include <algorithm>

namespace vel {

long long SessionRecorder::Now() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               begun_)
      .count();
}

void SessionRecorder::Add(wire::Event event, long long atMs) {
  draining_ = false;
  event.atMs = atMs;
  events_.push_back(std::move(event));
}

int SessionRecorder::Read(std::uint8_t* buffer, int count, int limitMs) {
  if (count <= 0) return relay_.Read(buffer, count, limitMs);
  if (draining_ && count == 1) {
    // A byte the engine was told is waiting: it joins the bytes drained before a frame.
    const long long at = Now();
    const int got = relay_.Read(buffer, 1, limitMs);
    draining_ = false;
    if (got == 1) {
      if (events_.empty() || events_.back().kind != wire::Kind::kStale) {
        Add(wire::BytesEvent(wire::Kind::kStale), at);
      }
      events_.back().bytes.push_back(buffer[0]);
    }
    return got;
  }
  const long long at = Now();
  const int got = relay_.Read(buffer, count, limitMs);
  Add(wire::ReadEvent(std::vector<std::uint8_t>(buffer, buffer + std::max(got, 0)), count,
                      limitMs >= 0),
      at);
  return got;
}

int SessionRecorder::Write(const std::uint8_t* buffer, int count) {
  Add(wire::BytesEvent(wire::Kind::kWrite,
                       std::vector<std::uint8_t>(buffer, buffer + std::max(count, 0))),
      Now());
  return relay_.Write(buffer, count);
}

bool SessionRecorder::ReadableNow() {
  const bool readable = relay_.ReadableNow();
  draining_ = readable;
  return readable;
}

int SessionRecorder::Connect() {
  droppedNoted_ = false;
  Add(wire::BytesEvent(wire::Kind::kConnect), Now());
  return relay_.Connect();
}

void SessionRecorder::Purge() {
  Add(wire::BytesEvent(wire::Kind::kPurge), Now());
  relay_.Purge();
}

void SessionRecorder::SpeedSet(int baud) {
  Add(wire::NumberEvent(wire::Kind::kSpeed, baud), Now());
  relay_.SpeedSet(baud);
}

void SessionRecorder::Paused(std::string_view name, int ms) {
  Add(wire::NumberEvent(wire::Kind::kPause, ms, std::string(name)), Now());
  relay_.Paused(name, ms);
}

bool SessionRecorder::Dropped() {
  const bool dropped = relay_.Dropped();
  if (dropped && !droppedNoted_) {
    droppedNoted_ = true;
    Add(wire::BytesEvent(wire::Kind::kClosed), Now());
  }
  return dropped;
}

}  // namespace vel
