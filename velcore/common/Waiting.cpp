#include "common/Waiting.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace vel {

namespace {

constexpr const char* kInterrupted = "interrupted";

std::string WaitFailure(WaitEnd end) {
  return end == WaitEnd::kStopped ? kInterrupted : "gave up waiting";
}

}  // namespace

WaitEnd WaitUntil(const WaitControl& wait, const std::function<bool()>& attempt) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  bool told = false;
  for (;;) {
    if (wait.stop != nullptr && wait.stop->IsRequested()) return WaitEnd::kStopped;
    if (attempt()) return WaitEnd::kDone;
    const auto waited = Clock::now() - start;
    if (wait.limit != std::chrono::milliseconds::max() && waited >= wait.limit) {
      return WaitEnd::kTimedOut;
    }
    if (!told && waited >= kWaitNoticeAfter && wait.onSlow) {
      told = true;
      wait.onSlow();
    }
    if (wait.stop == nullptr) {
      std::this_thread::sleep_for(kWaitPollStep);
    } else if (!wait.stop->SleepFor(kWaitPollStep)) {
      return WaitEnd::kStopped;
    }
  }
}

Expected<int> OpenForWriting(const std::string& path, int flags, mode_t mode,
                             const WaitControl& wait) {
  int fd = -1;
  int failure = 0;
  const WaitEnd end = WaitUntil(wait, [&] {
    fd = open(path.c_str(), flags | O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, mode);
    failure = fd < 0 ? errno : 0;
    return failure != ENXIO;  // ENXIO: a FIFO without a reader
  });
  if (end != WaitEnd::kDone) return Result::Failed(WaitFailure(end));
  if (fd < 0) return Result::Failed(std::strerror(failure));
  return fd;
}

Result WriteWaiting(int fd, std::string_view contents, const WaitControl& wait) {
  std::size_t written = 0;
  int failure = 0;
  const WaitEnd end = WaitUntil(wait, [&] {
    while (written < contents.size()) {
      const ssize_t n = write(fd, contents.data() + written, contents.size() - written);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;  // full for now
      if (n < 0) {
        failure = errno;
        return true;
      }
      written += static_cast<std::size_t>(n);
    }
    return true;
  });
  if (end != WaitEnd::kDone) return Result::Failed(WaitFailure(end));
  if (failure != 0) return Result::Failed(std::strerror(failure));
  return Result::Done();
}

}  // namespace vel
