#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <thread>

#include "SimChannel.h"
#include "SimDevice.h"
#include "support/VirtualClock.h"

namespace vel::testing {

// A simulated device served on one end of a socket pair, on a thread of its own, for one
// connection; the other end (EngineEnd) is the host's. The device's end is shut when it hangs
// up, so that the host sees the connection close. With a virtual clock, the device's thread is
// one of its parties.
class SocketPairDevice {
 public:
  explicit SocketPairDevice(sim::SimDevice& device, VirtualClock* clock = nullptr) : clock_(clock) {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_) != 0) std::abort();
    if (clock_ != nullptr) clock_->AddParty();
    serving_ = std::thread([this, &device] {
      ClockParty party(clock_);
      sim::SimChannel channel(fds_[1], false, 0, stop_,
                              clock_ != nullptr ? static_cast<Clock&>(*clock_) : SystemClock());
      device.Serve(channel);
      ::shutdown(fds_[1], SHUT_RDWR);
    });
  }
  ~SocketPairDevice() {
    stop_ = true;
    ::shutdown(fds_[0], SHUT_RDWR);
    if (clock_ != nullptr) {
      VirtualClock::OffClock joining(*clock_);
      serving_.join();
    } else {
      serving_.join();
    }
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  SocketPairDevice(const SocketPairDevice&) = delete;
  SocketPairDevice& operator=(const SocketPairDevice&) = delete;

  int EngineEnd() const { return fds_[0]; }

 private:
  VirtualClock* clock_;
  int fds_[2] = {-1, -1};
  std::atomic<bool> stop_{false};
  std::thread serving_;
};

// Receives up to `count` bytes from `fd` within `waitMs` of `clock`, taking what has arrived even
// when the time is up. *closed (when given) is set when the other end closed.
inline int ReceiveWithin(Clock& clock, int fd, std::uint8_t* buffer, int count, int waitMs,
                         bool* closed = nullptr) {
  const auto deadline = clock.Now() + std::chrono::milliseconds(waitMs);
  int got = 0;
  while (got < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock.Now());
    if (clock.WaitForInput(fd, std::max(left, std::chrono::milliseconds(0))) == 0) break;
    const ssize_t n = ::recv(fd, buffer + got, static_cast<std::size_t>(count - got), MSG_DONTWAIT);
    if (n == 0 && closed != nullptr) *closed = true;
    if (n <= 0) break;
    got += static_cast<int>(n);
  }
  return got;
}

// Sends all `count` bytes to `fd`, or as many as it takes before an error.
inline int SendAll(int fd, const std::uint8_t* buffer, int count) {
  int sent = 0;
  while (sent < count) {
    const ssize_t n =
        ::send(fd, buffer + sent, static_cast<std::size_t>(count - sent), MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<int>(n);
  }
  return sent;
}

}  // namespace vel::testing
