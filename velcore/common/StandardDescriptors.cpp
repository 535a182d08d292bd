#include "common/StandardDescriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace vel {

Result OpenStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lower numbers are open by now, so the lowest free one, which open takes, is `fd`.
    if (open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY) < 0) {
      return Result::Failed(
          std::string("cannot open /dev/null for a closed standard descriptor: ") +
          std::strerror(errno));
    }
  }
  return Result::Done();
}

}  // namespace vel
