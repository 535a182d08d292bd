#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "common/Clock.h"
#include "link/DeviceLink.h"
#include "wire/Transcript.h"

namespace zandor::wire {

// A link peer that keeps or checks the events of an exchange. It counts the engine's writes so
// that a scenario can cancel at a given one, as an operator pressing Cancel would.
class ScenarioPeer : public vel::LinkPeer, public EventSink {
 public:
  // `cancel` requests the operation's cancel; it is called after write number `atWrite` (from
  // 1), and by a player that found the engine out of step.
  void CancelAt(int atWrite, std::function<void()> cancel) {
    cancelAtWrite_ = atWrite;
    cancel_ = std::move(cancel);
  }

 protected:
  void CountWrite() {
    if (++writes_ == cancelAtWrite_ && cancel_) cancel_();
  }
  void Stop() {
    if (cancel_) cancel_();
  }

 private:
  int writes_ = 0;
  int cancelAtWrite_ = -1;
  std::function<void()> cancel_;
};

// Relays the engine's side of an exchange to a device over a socket and keeps every event: what
// went out, what came back (or did not, within a short wait), what waited as stale, the purges,
// speeds, connects, pauses, and what the scenario's display and operator noted.
class TranscriptRecorder final : public ScenarioPeer {
 public:
  // `fd` is the engine's end of a connection to the device; every wait of the recorder is on
  // `clock`.
  TranscriptRecorder(int fd, vel::Clock& clock) : fd_(fd), clock_(clock) {}

  int Read(std::uint8_t* buffer, int count, int limitMs) override;
  int Write(const std::uint8_t* buffer, int count) override;
  bool ReadableNow() override;
  int Connect() override;
  void Purge() override;
  void SpeedSet(int baud) override;
  void Paused(std::string_view name, int ms) override;
  bool Dropped() override;
  void Note(Event event) override;

  std::vector<Event> Events() const;

 private:
  int Receive(std::uint8_t* buffer, int count, int waitMs);
  void Add(Event event);

  int fd_;
  vel::Clock& clock_;
  mutable std::mutex mutex_;
  std::vector<Event> events_;
  bool draining_ = false;  // the engine asked whether bytes wait and was told yes
  bool closed_ = false;    // the device's end was shut
  bool closedNoted_ = false;
};

// Plays the device's side of a transcript back to the engine in strict order and checks that the
// engine does exactly what was recorded: any extra, missing or reordered step (a byte written, a
// read of another size, a pause, a question, a message, a log line) is a mismatch, which stops
// the operation.
class TranscriptPlayer final : public ScenarioPeer {
 public:
  explicit TranscriptPlayer(std::vector<Event> events) : events_(std::move(events)) {}

  int Read(std::uint8_t* buffer, int count, int limitMs) override;
  int Write(const std::uint8_t* buffer, int count) override;
  bool ReadableNow() override;
  int Connect() override;
  void Purge() override;
  void SpeedSet(int baud) override;
  void Paused(std::string_view name, int ms) override;
  bool Dropped() override;
  void Note(Event event) override;

  // Empty when every event was played and matched; else the first mismatch, or the events left.
  std::string Verdict() const;

 private:
  // The recorded event the engine's step matches, or null (a mismatch, kept).
  const Event* Expect(const Event& seen);

  mutable std::mutex mutex_;
  std::vector<Event> events_;
  std::size_t next_ = 0;
  std::deque<std::uint8_t> stale_;  // drained bytes not yet read
  bool closed_ = false;             // the recorded device closed the connection
  std::string mismatch_;
};

}  // namespace zandor::wire
