#include "LogFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zandor {

std::unique_ptr<LogFile> LogFile::Open(const std::string& path, const vel::WaitControl& wait,
                                       std::string* error) {
  const vel::Expected<int> opened = vel::OpenForWriting(path, O_APPEND | O_CREAT, 0644, wait);
  if (!opened) {
    *error = opened.error();
    return nullptr;
  }
  const int fd = *opened;
  // Lines are written whole and in order; a reader that is slow holds the run up, as a terminal
  // does.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return std::unique_ptr<LogFile>(new LogFile(fd, path));
}

LogFile::~LogFile() { close(fd_); }

bool LogFile::WriteLine(std::string_view line) {
  std::string whole(line);
  whole += '\n';
  std::lock_guard<std::mutex> guard(mutex_);
  if (!failure_.empty()) return true;
  for (std::size_t written = 0; written < whole.size();) {
    const ssize_t n = write(fd_, whole.data() + written, whole.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failure_ = n < 0 ? std::strerror(errno) : "nothing was written";
      return false;
    }
    written += static_cast<std::size_t>(n);
  }
  return true;
}

std::string LogFile::Failure() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return failure_;
}

}  // namespace zandor
