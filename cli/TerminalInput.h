#pragma once

#include <optional>
#include <string>

#include "common/CancelFlag.h"

namespace zandor {

// One line typed at the terminal on `fd`, without its line feed; nothing when the input ends or
// `stop` is requested first (the wait looks at it while no key is pressed).
std::optional<std::string> ReadTerminalLine(int fd, const vel::CancelFlag* stop);

}  // namespace zandor
