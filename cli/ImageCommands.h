#pragma once

#include <string>
#include <vector>

#include "Cli.h"

namespace zandor {

int InfoCommand(const std::vector<std::string>& words, Streams io);
int TestCommand(const std::vector<std::string>& words, Streams io);
int RecordsCommand(const std::vector<std::string>& words, Streams io);
int MemoryCommand(const std::vector<std::string>& words, Streams io);

}  // namespace zandor
