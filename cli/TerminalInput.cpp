#include "TerminalInput.h"

#include <poll.h>
#include <unistd.h>

#include "common/Waiting.h"

namespace zandor {

std::optional<std::string> ReadTerminalLine(int fd, const vel::CancelFlag* stop) {
  std::string line;
  bool complete = false;
  const vel::WaitEnd end = vel::WaitUntil({stop}, [&] {
    pollfd input{fd, POLLIN, 0};
    while (poll(&input, 1, 0) > 0) {
      char c = 0;
      if (read(fd, &c, 1) != 1) return true;  // the input ended
      if (c == '\n') {
        complete = true;
        return true;
      }
      line += c;
    }
    return false;
  });
  if (end != vel::WaitEnd::kDone || !complete) return std::nullopt;
  return line;
}

}  // namespace zandor
