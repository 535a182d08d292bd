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

namespace vel::testing {

// A simulated device served on one end of a socket pair, on a thread of its own, for one
// connection; the other end (EngineEnd) is the host's. The device's end is shut when it hangs
// up, so that the host sees the connection close.
class SocketPairDevice {
 public:
  explicit SocketPairDevice(sim::SimDevice& device) {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_) != 0) std::abort();
    serving_ = std::thread([this, &device] {
      sim::SimChannel channel(fds_[1], false, 0, stop_);
      device.Serve(channel);
      ::shutdown(fds_[1], SHUT_RDWR);
    });
  }
  ~SocketPairDevice() {
    stop_ = true;
    ::shutdown(fds_[0], SHUT_RDWR);
    serving_.join();
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  SocketPairDevice(const SocketPairDevice&) = delete;
  SocketPairDevice& operator=(const SocketPairDevice&) = delete;

  int EngineEnd() const { return fds_[0]; }

 private:
  int fds_[2] = {-1, -1};
  std::atomic<bool> stop_{false};
  std::thread serving_;
};

// Receives up to `count` bytes from `fd` within `waitMs`, taking what has arrived even when the
// time is up. *closed (when given) is set when the other end closed.
inline int ReceiveWithin(int fd, std::uint8_t* buffer, int count, int waitMs,
                         bool* closed = nullptr) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  int got = 0;
  while (got < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(std::max<long long>(left, 0))) <= 0) break;
    const ssize_t n = ::recv(fd, buffer + got, static_cast<std::size_t>(count - got), 0);
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
