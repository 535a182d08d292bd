#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "support/LoopbackListener.h"

namespace vel::testing {

// A listening socket on 127.0.0.1 whose connections a test script serves on its own thread.
class LoopbackPeer {
 public:
  LoopbackPeer() {
    sockaddr_in address{};
    listener_ = ListenOnLoopback(4, &address);
    port_ = ntohs(address.sin_port);
  }
  ~LoopbackPeer() {
    Join();
    ::close(listener_);
  }

  // Waits for the script to finish.
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

  std::uint16_t Port() const { return port_; }

  // Runs `script` on a thread of its own; the destructor waits for it.
  void Serve(std::function<void(LoopbackPeer&)> script) {
    thread_ = std::thread([this, script = std::move(script)] { script(*this); });
  }

  // The next connection, or -1 when none arrives within `timeoutMs`.
  int Accept(int timeoutMs = 5000) {
    pollfd p{listener_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return -1;
    return ::accept(listener_, nullptr, nullptr);
  }

  // Reads exactly n bytes (fewer when the connection ends or 5 s pass).
  static std::vector<std::uint8_t> ReadExactly(int fd, std::size_t n, int timeoutMs = 5000) {
    std::vector<std::uint8_t> out;
    while (out.size() < n) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, timeoutMs) <= 0) break;
      std::uint8_t buf[4096];
      const ssize_t got = ::recv(fd, buf, std::min(sizeof buf, n - out.size()), 0);
      if (got <= 0) break;
      out.insert(out.end(), buf, buf + got);
    }
    return out;
  }

  static void Send(int fd, const std::vector<std::uint8_t>& bytes) {
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }

  // Closes with a reset instead of an orderly shutdown.
  static void Reset(int fd) {
    linger hard{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd);
  }

 private:
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::thread thread_;
};

}  // namespace vel::testing
