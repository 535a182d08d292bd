#pragma once

#include <chrono>
#include <vector>

#include "link/DeviceLink.h"
#include "link/WireTranscript.h"

namespace vel {

// A link peer that relays every step to another (the device link's real ports) and keeps it,
// with its time, as session record events. Used from the one thread that runs the operation.
class SessionRecorder final : public LinkPeer {
 public:
  explicit SessionRecorder(LinkPeer& relay) : relay_(relay) {}

  int Read(std::uint8_t* buffer, int count, int limitMs) override;
  int Write(const std::uint8_t* buffer, int count) override;
  bool ReadableNow() override;
  int Connect() override;
  void Purge() override;
  void SpeedSet(int baud) override;
  void Paused(std::string_view name, int ms) override;
  bool Dropped() override;
  void Close() override { relay_.Close(); }

  const std::vector<wire::Event>& Events() const { return events_; }

 private:
  long long Now() const;
  void Add(wire::Event event, long long atMs);

  LinkPeer& relay_;
  const std::chrono::steady_clock::time_point begun_ = std::chrono::steady_clock::now();
  std::vector<wire::Event> events_;
  bool draining_ = false;  // the engine asked whether bytes wait and was told yes
  bool droppedNoted_ = false;
};

}  // namespace vel
