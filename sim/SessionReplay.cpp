#include "SessionReplay.h"

#include <thread>

namespace sim {

namespace {

namespace wire = vel::wire;

// Bytes that follow one of the host's time-outs are sent this much after the moment recorded, so
// that the timed-out read has ended on a host a little slower than the one recorded; bytes that
// were drained as late before a frame, this much before it.
constexpr int kReplayMarginMs = 100;
constexpr int kShownBytes = 16;  // of a mismatched write, in a violation

std::string Shown(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::uint8_t> head(bytes.begin(),
                                 bytes.begin() + std::min<std::size_t>(bytes.size(), kShownBytes));
  std::string text = wire::FormatEvent(wire::BytesEvent(wire::Kind::kWrite, head)).substr(2);
  return bytes.size() > head.size() ? text + " ..." : text;
}

}  // namespace

SessionReplay::SessionReplay(std::vector<wire::Event> events, std::string key)
    : events_(std::move(events)), key_(std::move(key)) {}

void SessionReplay::OnViolation(std::function<void(const std::string&)> report) {
  report_ = std::move(report);
}

std::vector<std::string> SessionReplay::Violations() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return violations_;
}

std::string SessionReplay::Unplayed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (broken_ || next_ >= events_.size()) return {};
  return "the host ended " + std::to_string(events_.size() - next_) +
         " events before the end of the record, at \"" + wire::FormatEvent(events_[next_]) + "\"";
}

void SessionReplay::Violation(const std::string& what) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    broken_ = true;
    violations_.push_back(what);
  }
  if (report_) report_(what);
}

void SessionReplay::WaitUntil(long long atMs, int marginMs) const {
  const auto due = anchor_ + std::chrono::milliseconds(atMs - anchorAtMs_ + marginMs);
  if (due > Clock::now()) std::this_thread::sleep_until(due);
}

bool SessionReplay::TakeHostWrite(SimChannel& channel, const wire::Event& event) {
  std::vector<std::uint8_t> got(event.bytes.size());
  if (!channel.Read(got.data(), static_cast<int>(got.size()))) return false;
  anchor_ = Clock::now();
  anchorAtMs_ = event.atMs;
  timedOutSinceWrite_ = false;
  if (got != event.bytes) {
    Violation("the host wrote " + Shown(got) + " where the record has " + Shown(event.bytes) +
              " (@" + std::to_string(event.atMs) + " ms)");
  }
  return true;
}

bool SessionReplay::Play(SimChannel& channel, const wire::Event& event) {
  switch (event.kind) {
    case wire::Kind::kConnect:
      connected_ = true;
      return true;
    case wire::Kind::kWrite:
      return TakeHostWrite(channel, event);
    case wire::Kind::kRead:
      if (event.bytes.empty()) {
        timedOutSinceWrite_ = true;
      } else {
        if (timedOutSinceWrite_) WaitUntil(event.atMs, kReplayMarginMs);
        channel.Write(event.bytes.data(), static_cast<int>(event.bytes.size()));
      }
      return true;
    case wire::Kind::kStale:
      WaitUntil(event.atMs, -kReplayMarginMs);
      channel.Write(event.bytes.data(), static_cast<int>(event.bytes.size()));
      return true;
    case wire::Kind::kClosed:
      return false;
    default:
      return true;  // purges, speeds and pauses are the host's own
  }
}

void SessionReplay::Serve(SimChannel& channel) {
  if (!key_.empty() && !channel.StartCipher(key_)) return;
  connected_ = false;
  for (;;) {
    std::size_t at = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (broken_ || next_ >= events_.size()) break;
      at = next_;
    }
    const wire::Event& event = events_[at];
    if (event.kind == wire::Kind::kConnect && connected_) {
      // The host connects again: this connection ends when it closes it.
      while (channel.ReadByteFor(-1) >= 0) {
      }
      return;
    }
    const bool goOn = Play(channel, event);
    if (channel.Closed() && event.kind == wire::Kind::kWrite) return;  // not taken: played again
    {
      std::lock_guard<std::mutex> lock(mutex_);
      next_ = at + 1;
    }
    if (!goOn) return;
  }
  // Past the record, or out of step with it: the device answers nothing more.
  bool extra = false;
  while (channel.ReadByteFor(-1) >= 0) extra = true;
  bool broken = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    broken = broken_;
  }
  if (extra && !broken) Violation("the host wrote after the end of the record");
}

}  // namespace sim
