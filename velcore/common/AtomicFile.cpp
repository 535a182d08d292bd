#include "common/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace vel {

namespace {

bool Fail(std::string* error, int fd, const std::string& tempPath) {
  *error = std::strerror(errno);
  if (fd >= 0) close(fd);
  unlink(tempPath.c_str());
  return false;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view contents, mode_t mode,
                         std::string* error) {
  std::string pattern = path + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  const std::string tempPath(name.data());
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  if (fchmod(fd, mode) != 0) return Fail(error, fd, tempPath);
  std::size_t written = 0;
  while (written < contents.size()) {
    const ssize_t n = write(fd, contents.data() + written, contents.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(error, fd, tempPath);
    }
    written += static_cast<std::size_t>(n);
  }
  if (fsync(fd) != 0) return Fail(error, fd, tempPath);
  if (close(fd) != 0) return Fail(error, -1, tempPath);
  if (rename(tempPath.c_str(), path.c_str()) != 0) return Fail(error, -1, tempPath);
  return true;
}

}  // namespace vel
