#pragma once

#include <string>
#include <vector>

#include "Cli.h"

namespace zandor {

int DevicesCommand(const std::vector<std::string>& words, Streams io);

}  // namespace zandor
