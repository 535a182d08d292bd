#pragma once

#include <string>
#include <vector>

#include "Cli.h"

namespace zandor {

int CheckCommand(const std::vector<std::string>& words, Streams io);
int UpdateCommand(const std::vector<std::string>& words, Streams io);

}  // namespace zandor
