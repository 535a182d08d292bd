#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "Responder.h"
#include "link/WireTranscript.h"

namespace sim {

// Plays the device's side of a session record back in strict order: each write the host made
// must arrive again byte for byte (anything else is a protocol violation, after which the device
// answers nothing more), and the device's bytes are sent as they were received. Bytes that came
// after one of the host's read time-outs are sent as late, relative to the host's last write, as
// they came then.
class SessionReplay final : public Responder {
 public:
  // `key`: the enciphered stream's key when the host enciphers (the record never holds it).
  SessionReplay(std::vector<vel::wire::Event> events, std::string key);

  void Serve(SimChannel& channel) override;
  // Called with each violation as it is seen, on the serving thread.
  void OnViolation(std::function<void(const std::string&)> report);
  std::vector<std::string> Violations() const;
  // Empty when the whole record was played; else what the host did not do of it.
  std::string Unplayed() const;

 private:
  using Clock = std::chrono::steady_clock;
  // Plays one event (not a second connect); false when this connection ends here.
  bool Play(SimChannel& channel, const vel::wire::Event& event);
  bool TakeHostWrite(SimChannel& channel, const vel::wire::Event& event);
  // Waits until the recorded moment `atMs` (moved by `marginMs`) on the host's clock.
  void WaitUntil(long long atMs, int marginMs) const;
  void Violation(const std::string& what);

  const std::vector<vel::wire::Event> events_;
  const std::string key_;
  std::function<void(const std::string&)> report_;
  mutable std::mutex mutex_;  // guards next_, broken_ and violations_, read by other threads
  std::size_t next_ = 0;
  bool broken_ = false;
  std::vector<std::string> violations_;
  // The host's last write as it came now and as it was recorded; whether a read of the host
  // timed out since.
  Clock::time_point anchor_ = Clock::now();
  long long anchorAtMs_ = 0;
  bool timedOutSinceWrite_ = false;
  bool connected_ = false;  // the connection being served has taken its connect event
};

}  // namespace sim
