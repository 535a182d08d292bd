#include "SimServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {
constexpr int kAcceptPollMs = 50;
}

SimServer::SimServer(SimConfig config) : config_(config), device_(std::move(config)) {}

SimServer::~SimServer() { Stop(); }

int SimServer::StartTcp(const std::string& host, int port) {
  sockaddr_storage address{};
  socklen_t length = 0;
  auto& v4 = reinterpret_cast<sockaddr_in&>(address);
  auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
  if (inet_pton(AF_INET, host.c_str(), &v4.sin_addr) == 1) {
    v4.sin_family = AF_INET;
    v4.sin_port = htons(static_cast<std::uint16_t>(port));
    length = sizeof v4;
  } else if (inet_pton(AF_INET6, host.c_str(), &v6.sin6_addr) == 1) {
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(static_cast<std::uint16_t>(port));
    length = sizeof v6;
  } else {
    return 0;
  }
  listener_ = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listener_, 4) != 0) {
    ::close(listener_);
    listener_ = -1;
    return 0;
  }
  getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
  thread_ = std::thread([this] {
    ServeTcp();
    KeepServingTime();
  });
  return ntohs(address.ss_family == AF_INET6 ? v6.sin6_port : v4.sin_port);
}

std::string SimServer::StartPty() {
  char name[128];
  int slave = -1;
  if (openpty(&ptyMaster_, &slave, name, nullptr, nullptr) != 0) return {};
  // Raw on both sides; keep the slave open so the pair survives the host's closes.
  termios tio{};
  tcgetattr(slave, &tio);
  cfmakeraw(&tio);
  tcsetattr(slave, TCSANOW, &tio);
  ptySlaveKeeper_ = slave;
  thread_ = std::thread([this] {
    ServePty();
    KeepServingTime();
  });
  return name;
}

void SimServer::ServeTcp() {
  while (!stop_) {
    pollfd p{listener_, POLLIN, 0};
    if (poll(&p, 1, kAcceptPollMs) <= 0) continue;
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    SimChannel channel(fd, false, config_.baud, stop_);
    channel.SetByteGap(config_.byteGapMs);
    responder_->Serve(channel);
    bytesExchanged_ += channel.BytesIn() + channel.BytesOut();
    ::close(fd);
  }
}

void SimServer::ServePty() {
  SimChannel channel(ptyMaster_, true, config_.baud, stop_);
  channel.SetByteGap(config_.byteGapMs);
  while (!stop_ && !channel.Closed()) responder_->Serve(channel);
  bytesExchanged_ += channel.BytesIn() + channel.BytesOut();
}

void SimServer::KeepServingTime() {
  rusage usage{};
  if (getrusage(RUSAGE_THREAD, &usage) != 0) return;
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  servingSeconds_ = seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void SimServer::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) ::close(listener_);
  if (ptyMaster_ >= 0) ::close(ptyMaster_);
  if (ptySlaveKeeper_ >= 0) ::close(ptySlaveKeeper_);
  listener_ = ptyMaster_ = ptySlaveKeeper_ = -1;
}

}  // namespace sim
