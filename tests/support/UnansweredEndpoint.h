#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "support/LoopbackListener.h"

namespace vel::testing {

// A local endpoint whose listen queue is full: a connect to it gets no answer at all, as a
// device that is switched off behind a router.
class UnansweredEndpoint {
 public:
  UnansweredEndpoint() {
    sockaddr_in address{};
    listener_ = ListenOnLoopback(0, &address);
    port_ = ntohs(address.sin_port);
    // Fill the queue with connections nobody accepts.
    for (int i = 0; i < 8; ++i) {
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
      ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
      fillers_.push_back(fd);
    }
  }
  ~UnansweredEndpoint() {
    for (int fd : fillers_) ::close(fd);
    ::close(listener_);
  }
  std::uint16_t Port() const { return port_; }

 private:
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::vector<int> fillers_;
};

}  // namespace vel::testing
