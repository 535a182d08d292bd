#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "common/AtomicFile.h"
#include "common/CancelFlag.h"

namespace zandor {

enum ExitCode { kExitOk = 0, kExitNegative = 1, kExitUsage = 2, kExitFileError = 3 };

// Where a command writes: results to `out`, diagnostics and progress to `err`.
struct Streams {
  std::ostream& out;
  std::ostream& err;
  bool errIsTerminal = false;
  // Requested when the process is asked to stop: running devices are cancelled, no further one
  // starts, and every device still gets its result line.
  const vel::CancelFlag* interrupt = nullptr;
  // Held while a file is replaced, so that a process ending at once leaves no temporary file.
  vel::FileCommits* fileCommits = nullptr;
};

// Runs `zandor` with the words after the program name; returns the exit code.
int RunZandor(const std::vector<std::string>& words, Streams io);

}  // namespace zandor
