#include "image/SharedFirmware.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace vel {

namespace {

// File times advance in steps (a clock tick, up to two seconds on some file systems): a file
// changed less than this before it was read may change again without its times changing.
constexpr std::int64_t kTimeStepNs = 2'000'000'000;
constexpr std::size_t kCompareChunk = 1 << 20;

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Whether a stamp's times are old enough, at `readAtNs`, to tell any later change of the file.
bool TimesTellChange(const FileStamp& stamp, std::int64_t readAtNs) {
  return std::max(stamp.modifiedNs, stamp.changedNs) + kTimeStepNs <= readAtNs;
}

// Whether the open file holds exactly `text`.
bool HoldsText(int fd, std::string_view text) {
  std::vector<char> chunk(kCompareChunk);
  std::size_t done = 0;
  for (;;) {
    const ssize_t n = read(fd, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return done == text.size();
    const auto got = static_cast<std::size_t>(n);
    if (got > text.size() - done || std::memcmp(chunk.data(), text.data() + done, got) != 0) {
      return false;
    }
    done += got;
  }
}

}  // namespace

LoadResult SharedFirmware::Load(const std::string& path, ProgressSink* progress,
                                std::shared_ptr<const LoadedFirmware>* loaded) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (last_ && path == path_ && Unchanged(path)) {
    *loaded = last_;
    ++reuses_;
    return {};
  }
  const std::int64_t readAt = NowNs();
  HexFileLoader loader(progress);
  const LoadResult result = loader.LoadPath(path);
  ++loads_;
  *loaded = loader.Loaded();
  path_ = path;
  last_ = result.ok() ? loader.Loaded() : nullptr;
  stamp_ = loader.Stamp();
  stampTellsChange_ = TimesTellChange(stamp_, readAt);
  return result;
}

bool SharedFirmware::Unchanged(const std::string& path) {
  const auto now = StampOfPath(path);
  if (!now || now->size != static_cast<std::int64_t>(last_->Text().size())) return false;
  if (*now == stamp_ && stampTellsChange_) return true;
  const std::int64_t readAt = NowNs();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return false;
  const auto stamp = StampOfOpenFile(fd);
  const bool same = stamp && HoldsText(fd, last_->Text());
  close(fd);
  if (!same) return false;
  stamp_ = *stamp;
  stampTellsChange_ = TimesTellChange(stamp_, readAt);
  return true;
}

int SharedFirmware::Loads() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return loads_;
}

int SharedFirmware::Reuses() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reuses_;
}

}  // namespace vel
