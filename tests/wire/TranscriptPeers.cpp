#include "wire/TranscriptPeers.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>

#include "support/SocketPairDevice.h"

namespace zandor::wire {

namespace {

constexpr int kRecordWaitMs = 200;  // how long a recorded read waits for the device
constexpr int kSettleMs = 1;        // lets an answer already on its way arrive before a frame

}  // namespace

void TranscriptRecorder::Add(Event event) {
  std::lock_guard<std::mutex> lock(mutex_);
  draining_ = false;
  events_.push_back(std::move(event));
}

std::vector<Event> TranscriptRecorder::Events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

int TranscriptRecorder::Receive(std::uint8_t* buffer, int count, int waitMs) {
  bool closed = false;
  const int got = vel::testing::ReceiveWithin(clock_, fd_, buffer, count, waitMs, &closed);
  if (closed) {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  return got;
}

bool TranscriptRecorder::Dropped() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_ && !closedNoted_) {
    closedNoted_ = true;
    draining_ = false;
    events_.push_back(BytesEvent(Kind::kClosed));
  }
  return closed_;
}

int TranscriptRecorder::Read(std::uint8_t* buffer, int count, int limitMs) {
  if (count <= 0) return 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (draining_ && count == 1) {
      // A stale byte the engine was told of: it joins the drained bytes.
      draining_ = false;
      const int got = Receive(buffer, 1, kRecordWaitMs);
      if (got == 1) {
        if (events_.empty() || events_.back().kind != Kind::kStale) {
          events_.push_back(BytesEvent(Kind::kStale));
        }
        events_.back().bytes.push_back(buffer[0]);
      }
      return got;
    }
  }
  const int waitMs = limitMs >= 0 ? std::min(limitMs, kRecordWaitMs) : kRecordWaitMs;
  const int got = Receive(buffer, count, waitMs);
  Add(ReadEvent(std::vector<std::uint8_t>(buffer, buffer + got), count, limitMs >= 0));
  return got;
}

int TranscriptRecorder::Write(const std::uint8_t* buffer, int count) {
  Add(BytesEvent(Kind::kWrite, std::vector<std::uint8_t>(buffer, buffer + count)));
  const int sent = vel::testing::SendAll(fd_, buffer, count);
  CountWrite();
  return sent;
}

bool TranscriptRecorder::ReadableNow() {
  const bool readable =
      (clock_.WaitForInput(fd_, std::chrono::milliseconds(kSettleMs)) & POLLIN) != 0;
  std::lock_guard<std::mutex> lock(mutex_);
  draining_ = readable;
  return readable;
}

int TranscriptRecorder::Connect() {
  Add(BytesEvent(Kind::kConnect));
  return 0;
}

void TranscriptRecorder::Purge() {
  Event e = BytesEvent(Kind::kPurge);
  std::uint8_t byte = 0;
  while ((clock_.WaitForInput(fd_, std::chrono::milliseconds(kSettleMs)) & POLLIN) != 0 &&
         ::recv(fd_, &byte, 1, 0) == 1) {
    e.bytes.push_back(byte);
  }
  Add(std::move(e));
}

void TranscriptRecorder::SpeedSet(int baud) { Add(NumberEvent(Kind::kSpeed, baud)); }

void TranscriptRecorder::Paused(std::string_view name, int ms) {
  Add(NumberEvent(Kind::kPause, ms, std::string(name)));
}

void TranscriptRecorder::Note(Event event) { Add(std::move(event)); }

const Event* TranscriptPlayer::Expect(const Event& seen) {
  if (!mismatch_.empty()) return nullptr;
  if (next_ >= events_.size()) {
    mismatch_ = "after the last recorded event the engine did: " + FormatEvent(seen);
  } else if (!SameStep(events_[next_], seen)) {
    mismatch_ = "event " + std::to_string(next_ + 1) + ": recorded \"" +
                FormatEvent(events_[next_]) + "\", the engine did \"" + FormatEvent(seen) + "\"";
  } else {
    return &events_[next_++];
  }
  return nullptr;
}

int TranscriptPlayer::Read(std::uint8_t* buffer, int count, int limitMs) {
  if (count <= 0) return 0;  // nothing asked, nothing recorded
  std::unique_lock<std::mutex> lock(mutex_);
  if (!stale_.empty() && count == 1) {
    buffer[0] = stale_.front();
    stale_.pop_front();
    return 1;
  }
  const Event* recorded = Expect(ReadEvent({}, count, limitMs >= 0));
  if (recorded == nullptr) {
    lock.unlock();
    Stop();
    return 0;
  }
  std::copy(recorded->bytes.begin(), recorded->bytes.end(), buffer);
  return static_cast<int>(recorded->bytes.size());
}

int TranscriptPlayer::Write(const std::uint8_t* buffer, int count) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stale_.empty() && mismatch_.empty()) {
      mismatch_ = "a frame written while stale bytes still waited";
    }
  }
  Note(BytesEvent(Kind::kWrite, std::vector<std::uint8_t>(buffer, buffer + count)));
  CountWrite();
  return count;
}

bool TranscriptPlayer::ReadableNow() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!stale_.empty()) return true;
  if (!mismatch_.empty() || next_ >= events_.size() || events_[next_].kind != Kind::kStale) {
    return false;
  }
  stale_.assign(events_[next_].bytes.begin(), events_[next_].bytes.end());
  ++next_;
  return true;
}

bool TranscriptPlayer::Dropped() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!closed_ && mismatch_.empty() && next_ < events_.size() &&
      events_[next_].kind == Kind::kClosed) {
    closed_ = true;
    ++next_;
  }
  return closed_;
}

int TranscriptPlayer::Connect() {
  Note(BytesEvent(Kind::kConnect));
  return 0;
}

void TranscriptPlayer::Purge() { Note(BytesEvent(Kind::kPurge)); }

void TranscriptPlayer::SpeedSet(int baud) { Note(NumberEvent(Kind::kSpeed, baud)); }

void TranscriptPlayer::Paused(std::string_view name, int ms) {
  Note(NumberEvent(Kind::kPause, ms, std::string(name)));
}

void TranscriptPlayer::Note(Event event) {
  bool stop = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop = Expect(event) == nullptr;
  }
  if (stop) Stop();
}

std::string TranscriptPlayer::Verdict() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!mismatch_.empty()) return mismatch_;
  if (next_ < events_.size()) {
    return std::to_string(events_.size() - next_) +
           " recorded events were not reproduced, from \"" + FormatEvent(events_[next_]) + "\"";
  }
  if (!stale_.empty()) return "stale bytes left undrained";
  return {};
}

}  // namespace zandor::wire
