#include "link/TcpLink.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace vel {

namespace {
using Clock = std::chrono::steady_clock;

// The numeric text of an endpoint's address, without brackets.
std::string NumericAddress(const TcpEndpoint& endpoint) {
  char text[INET6_ADDRSTRLEN] = {};
  if (endpoint.Family() == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(endpoint.socket).sin6_addr, text,
              sizeof text);
  } else {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(endpoint.socket).sin_addr, text,
              sizeof text);
  }
  return text;
}
}  // namespace

std::optional<int> PortTextNumber(std::string_view text) {
  constexpr std::size_t kMostDigits = 5;
  if (text.empty() || text.size() > kMostDigits ||
      text.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  int number = 0;
  for (const char c : text) number = number * 10 + (c - '0');
  return number;
}

int TcpEndpoint::Port() const {
  if (Family() == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(socket).sin6_port);
  if (Family() == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(socket).sin_port);
  return 0;
}

bool MakeEndpoint(const std::string& address, const std::string& portText, TcpEndpoint* endpoint) {
  // A text that would wrap or read as 0 reaches no device rather than another one.
  const int port = PortTextNumber(portText).value_or(0);
  if (port < 1 || port > kMaxTcpPort) return false;
  const auto networkPort = htons(static_cast<std::uint16_t>(port));
  TcpEndpoint made;
  if (auto& v4 = reinterpret_cast<sockaddr_in&>(made.socket);
      inet_pton(AF_INET, address.c_str(), &v4.sin_addr) == 1) {
    v4.sin_family = AF_INET;
    v4.sin_port = networkPort;
    made.length = sizeof v4;
  } else if (auto& v6 = reinterpret_cast<sockaddr_in6&>(made.socket);
             inet_pton(AF_INET6, address.c_str(), &v6.sin6_addr) == 1) {
    v6.sin6_family = AF_INET6;
    v6.sin6_port = networkPort;
    made.length = sizeof v6;
  } else {
    return false;
  }
  *endpoint = made;
  return true;
}

std::optional<std::string> ResolveHost(const std::string& host, std::string* error) {
  for (const int family : {AF_INET, AF_INET6}) {
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int status = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (status == 0 && found != nullptr) {
      TcpEndpoint endpoint;
      std::memcpy(&endpoint.socket, found->ai_addr,
                  std::min<std::size_t>(found->ai_addrlen, sizeof endpoint.socket));
      freeaddrinfo(found);
      return NumericAddress(endpoint);
    }
    // The first family's answer is the one reported: a name with no IPv6 address either says
    // so in the IPv4 resolver's words.
    if (family == AF_INET)
      *error = status == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(status);
  }
  return std::nullopt;
}

std::string AddressText(const TcpEndpoint& endpoint) {
  const std::string text = NumericAddress(endpoint);
  return endpoint.Family() == AF_INET6 ? "[" + text + "]" : text;
}

bool SystemRandomIv(std::uint8_t* iv) {
  return getrandom(iv, kCipherBlockSize, 0) == static_cast<ssize_t>(kCipherBlockSize);
}

void TcpLink::SetLinkKey(const std::string& keyText) {
  keyText_ = keyText;
  encrypted_ = true;
}

void TcpLink::CloseSocket() {
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
}

int TcpLink::ConnectTcp(const TcpEndpoint& endpoint) {
  endpoint_ = endpoint;
  dropped_ = false;
  if (socket_ >= 0) {
    CloseSocket();
    const auto pause = std::chrono::milliseconds(reconnectPauseMs_);
    if (cancel_ == nullptr) {
      std::this_thread::sleep_for(pause);
    } else if (!cancel_->SleepFor(pause)) {
      return lastError_ = ECANCELED;
    }
  }
  std::unique_ptr<CEncryptAPI> cipher;
  if (encrypted_) {
    // Key first: a key that cannot be used refuses the connection instead of sending traffic
    // under a key schedule that was never built.
    cipher = std::make_unique<CWrapper_TwoFish>();
    if (!cipher->init(keyText_.c_str(), kLinkKeyBits)) return lastError_ = EKEYREJECTED;
  }
  const int fd = ::socket(endpoint.Family(), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return lastError_ = errno;
  const int one = 1;
  int error = 0;
  if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0) error = errno;
  if (error == 0) error = ConnectWithin(fd, endpoint);
  // Connected: waits from here on are the socket's own time-outs on a blocking socket.
  if (error == 0 &&
      (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 || !SetWaitStepOn(fd))) {
    error = errno;
  }
  if (error != 0) {
    ::close(fd);
    return lastError_ = error;
  }
  socket_ = fd;
  if (!encrypted_) return lastError_ = 0;

  std::uint8_t iv[kCipherBlockSize];
  errno = 0;
  if (!ivSource_(iv)) {
    lastError_ = errno != 0 ? errno : EIO;
    CloseSocket();
    return lastError_;
  }
  cipher->setIV(iv);
  cipher_ = std::move(cipher);
  if (::send(socket_, iv, sizeof iv, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof iv)) {
    lastError_ = errno != 0 ? errno : EIO;
    CloseSocket();
    return lastError_;
  }
  return lastError_ = 0;
}

int TcpLink::ConnectWithin(int fd, const TcpEndpoint& endpoint) const {
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&endpoint.socket), endpoint.length) == 0) {
    return 0;
  }
  if (errno != EINPROGRESS) return errno;
  const auto deadline = Clock::now() + std::chrono::milliseconds(connectTimeoutMs_);
  for (;;) {
    if (CancelRequested()) return ECANCELED;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return ETIMEDOUT;
    pollfd p{fd, POLLOUT, 0};
    const int ready = poll(&p, 1, static_cast<int>(std::min<long long>(left, kCancelPollMs)));
    if (ready < 0 && errno != EINTR) return errno;
    if (ready > 0) {
      int result = 0;
      socklen_t size = sizeof result;
      if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &size) != 0) return errno;
      return result;
    }
  }
}

void TcpLink::TcpSend(std::uint8_t* buffer, int length, int* count) {
  *count = 0;
  if (encrypted_ && cipher_ && length > 0) cipher_->encrypt(buffer, length, buffer);
  Transfer(Direction::kSend, buffer, length, count, -1);
}

void TcpLink::TcpReceive(std::uint8_t* buffer, int length, int* count, int limitMs) {
  *count = 0;
  Transfer(Direction::kReceive, buffer, length, count, limitMs);
  if (*count > 0 && encrypted_ && cipher_) cipher_->decrypt(buffer, *count, buffer);
}

void TcpLink::Transfer(Direction direction, std::uint8_t* buffer, int length, int* count,
                       int limitMs) {
  // The socket's send and receive time-outs are one slice each (a wait step, at most the cancel
  // poll), so a blocking call is the wait: one system call per piece, as a plain socket exchange
  // would make, and a cancel is seen within a slice. Once cancelled, only what has already
  // arrived is taken.
  const bool sending = direction == Direction::kSend;
  const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
  EmptyWaits emptyWaits(waitStepMs_, WaitSliceMs());
  while (*count < length) {
    if (socket_ < 0) return;
    const std::size_t remaining = static_cast<std::size_t>(length - *count);
    const int noWait = CancelRequested() ? MSG_DONTWAIT : 0;
    const ssize_t n = sending ? ::send(socket_, buffer + *count, remaining, MSG_NOSIGNAL | noWait)
                              : ::recv(socket_, buffer + *count, remaining, noWait);
    if (n > 0) {
      *count += static_cast<int>(n);
      emptyWaits.BytesMoved();
      continue;
    }
    if (n == 0 && !sending) {
      // The device closed the connection: nothing more will come on this socket.
      lastError_ = ECONNRESET;
      CloseSocket();
      dropped_ = true;
      return;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const bool pastLimit = limitMs >= 0 && Clock::now() >= deadline;
      if (emptyWaits.QuietSlice() || pastLimit || noWait != 0 || CancelRequested()) return;
      continue;
    }
    lastError_ = errno;
    Reconnect();
    return;
  }
}

EmptyWaits::EmptyWaits(int waitStepMs, int sliceMs)
    : slicesPerWait_(std::max(1, (waitStepMs + sliceMs - 1) / std::max(1, sliceMs))) {}

bool EmptyWaits::QuietSlice() {
  if (++quietSlices_ < slicesPerWait_) return false;
  quietSlices_ = 0;
  return ++emptyWaits_ > kTcpEmptyWaitsAllowed;
}

void TcpLink::Reconnect() {
  ConnectTcp(endpoint_);
  dropped_ = true;
}

bool TcpLink::ReadableNow() const {
  int waiting = 0;
  return socket_ >= 0 && ioctl(socket_, FIONREAD, &waiting) == 0 && waiting > 0;
}

int TcpLink::WaitSliceMs() const { return std::min(waitStepMs_, kCancelPollMs); }

bool TcpLink::SetWaitStepOn(int fd) const {
  timeval step{};
  step.tv_sec = WaitSliceMs() / 1000;
  step.tv_usec = (WaitSliceMs() % 1000) * 1000;
  return setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &step, sizeof step) == 0 &&
         setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &step, sizeof step) == 0;
}

void TcpLink::ClosePort() {
  CloseSocket();
  encrypted_ = false;
}

void TcpLink::Shutdown() {
  if (socket_ >= 0) ::shutdown(socket_, SHUT_RDWR);
  CloseSocket();
}

}  // namespace vel
