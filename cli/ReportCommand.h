#pragma once

#include <string>
#include <vector>

#include "Cli.h"

namespace zandor {

// zandor report merge: the walk reports of several sites as one, with a site column.
int ReportCommand(const std::vector<std::string>& words, Streams io);

}  // namespace zandor
