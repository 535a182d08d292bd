#include "SimChannel.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace sim {

namespace {
constexpr int kPollStepMs = 50;
constexpr int kBitsPerByte = 10;
constexpr auto kSpinMargin = std::chrono::microseconds(200);

// Sleeps until the line clock says so; the last stretch spins, because a sleep overshoots by
// more than a byte takes at 38400 baud and the pacing would drift.
void WaitForLine(std::chrono::steady_clock::time_point until) {
  if (until - std::chrono::steady_clock::now() > kSpinMargin) {
    std::this_thread::sleep_until(until - kSpinMargin);
  }
  while (std::chrono::steady_clock::now() < until) {
  }
}
}  // namespace

SimChannel::SimChannel(int fd, bool isPty, int baud, const std::atomic<bool>& stop,
                       vel::Clock& clock)
    : fd_(fd), isPty_(isPty), baud_(baud), stop_(stop), clock_(clock) {
  if (!isPty_ && clock_.IsSystem()) {
    timeval step{};
    step.tv_usec = kPollStepMs * 1000;
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &step, sizeof step);
  }
}

SimChannel::~SimChannel() = default;

std::chrono::nanoseconds SimChannel::ByteTime(int n) const {
  return std::chrono::nanoseconds(static_cast<long long>(n) * kBitsPerByte * 1'000'000'000LL /
                                  baud_);
}

void SimChannel::PaceReceived(int n) {
  if (baud_ <= 0) return;
  // The bytes came over the pseudo-terminal at once; on a real line they would take their
  // wire time from the moment the line was free.
  lineClock_ = std::max(lineClock_, std::chrono::steady_clock::now()) + ByteTime(n);
  WaitForLine(lineClock_);
}

void SimChannel::Sleep(int ms) {
  if (ms > 0) clock_.SleepFor(std::chrono::milliseconds(ms), nullptr);
}

bool SimChannel::WaitReadable(int timeoutMs) {
  const auto deadline = clock_.Now() + std::chrono::milliseconds(timeoutMs);
  // Bytes already sent by the host are read even after a stop was requested, so that a stop
  // right after the host's last frame still sees that frame.
  while (!closed_) {
    // A pseudo-terminal is polled a step at a time to see a stop; a socket wakes for one itself,
    // as the stop shuts its other end.
    std::chrono::milliseconds step =
        isPty_ ? std::chrono::milliseconds(kPollStepMs) : vel::Clock::kForever;
    if (timeoutMs >= 0 && !isPty_) {
      step =
          std::max(std::chrono::milliseconds(0),
                   std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_.Now()));
    }
    const short events = clock_.WaitForInput(fd_, stop_ ? std::chrono::milliseconds(0) : step);
    if ((events & POLLIN) != 0) return true;
    if (stop_) return false;
    if ((events & (POLLHUP | POLLERR)) != 0) {
      if (!isPty_) return true;  // the receive that follows sees the socket closed
      // A pseudo-terminal without an open slave: wait for the host to open it again.
      Sleep(kPollStepMs);
    }
    if (timeoutMs >= 0 && clock_.Now() >= deadline) return false;
  }
  return false;
}

bool SimChannel::Fill(int timeoutMs) {
  const auto deadline = clock_.Now() + std::chrono::milliseconds(timeoutMs);
  // On the system's clock a socket waits in its receive itself (one wait step at a time, see the
  // constructor), so that a frame costs one system call; a pseudo-terminal, and any link on a
  // clock of its own, waits on the clock first.
  const bool waitFirst = isPty_ || !clock_.IsSystem();
  while (!closed_) {
    if (waitFirst && !WaitReadable(timeoutMs)) return false;
    const bool dontWait = stop_ || !clock_.IsSystem();
    const ssize_t got =
        isPty_ ? ::read(fd_, inbox_.data(), inbox_.size())
               : ::recv(fd_, inbox_.data(), inbox_.size(), dontWait ? MSG_DONTWAIT : 0);
    if (got > 0) {
      inboxBegin_ = 0;
      inboxEnd_ = static_cast<std::size_t>(got);
      return true;
    }
    // Nothing this time (a wait step passed, an interrupted read, a pseudo-terminal without its
    // slave): wait again. A socket that delivers nothing has closed.
    const bool nothingYet = got == 0 ? isPty_
                                     : errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK ||
                                           (isPty_ && errno == EIO);
    if (!nothingYet) closed_ = true;
    if (closed_ || stop_) return false;
    if (timeoutMs >= 0 && clock_.Now() >= deadline) return false;
  }
  return false;
}

bool SimChannel::Read(std::uint8_t* bytes, int n) {
  for (int done = 0; done < n;) {
    if (inboxBegin_ == inboxEnd_ && !Fill(-1)) return false;
    const std::size_t take = std::min(inboxEnd_ - inboxBegin_, static_cast<std::size_t>(n - done));
    std::copy_n(inbox_.data() + inboxBegin_, take, bytes + done);
    // Deciphered as the device takes them, so bytes read ahead before the cipher started are
    // deciphered too.
    if (cipher_) cipher_->decrypt(bytes + done, static_cast<int>(take), bytes + done);
    inboxBegin_ += take;
    done += static_cast<int>(take);
  }
  bytesIn_ += n;
  return true;
}

int SimChannel::ReadByteFor(int timeoutMs) {
  if (inboxBegin_ == inboxEnd_ && !Fill(timeoutMs)) return -1;
  std::uint8_t byte = 0;
  return Read(&byte, 1) ? byte : -1;
}

void SimChannel::Write(const std::uint8_t* bytes, int n) {
  if (closed_ || n <= 0) return;
  if (byteGapMs_ > 0 && n > 1) {
    for (int i = 0; i < n && !closed_ && !stop_; ++i) {
      if (i > 0) Sleep(byteGapMs_);
      WriteEach(bytes + i, 1);
    }
    return;
  }
  WriteEach(bytes, n);
}

void SimChannel::WriteEach(const std::uint8_t* bytes, int n) {
  std::uint8_t buffer[64];
  for (int done = 0; done < n;) {
    const int chunk = std::min(n - done, static_cast<int>(sizeof buffer));
    std::copy(bytes + done, bytes + done + chunk, buffer);
    if (cipher_) cipher_->encrypt(buffer, chunk, buffer);
    if (baud_ > 0) {
      lineClock_ = std::max(lineClock_, std::chrono::steady_clock::now()) + ByteTime(chunk);
      WaitForLine(lineClock_);
    }
    for (int sent = 0; sent < chunk;) {
      const ssize_t w =
          isPty_ ? ::write(fd_, buffer + sent, static_cast<std::size_t>(chunk - sent))
                 : ::send(fd_, buffer + sent, static_cast<std::size_t>(chunk - sent), MSG_NOSIGNAL);
      if (w < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        closed_ = !isPty_;
        return;
      }
      sent += static_cast<int>(w);
    }
    done += chunk;
    bytesOut_ += chunk;
  }
}

bool SimChannel::StartCipher(const std::string& key) {
  std::uint8_t iv[vel::kCipherBlockSize];
  if (!Read(iv, sizeof iv)) return false;
  cipher_ = std::make_unique<vel::CWrapper_TwoFish>();
  if (!cipher_->init(key.c_str(), vel::kLinkKeyBits)) return false;
  cipher_->setIV(iv);
  return true;
}

void SimChannel::DiscardUntilQuiet(int quietMs) {
  while (!closed_ && !stop_ && ReadByteFor(quietMs) >= 0) {
  }
}

}  // namespace sim
