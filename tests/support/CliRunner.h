#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "Cli.h"

namespace zandor::testing {

struct CliRun {
  int code;
  std::string out;
  std::string err;
};

// The start of the JSON result event of a device a stop request cancelled (its text goes on to
// say that the update was interrupted when the stop came after its transfer began).
inline std::string CancelledResultEvent(const std::string& device) {
  return "{\"event\":\"result\",\"device\":\"" + device +
         "\",\"status\":30006,\"text\":\"Cancelled at the operator's request";
}

// Runs zandor in this process with stderr not a terminal.
inline CliRun Zandor(const std::vector<std::string>& words) {
  std::ostringstream out, err;
  const int code = RunZandor(words, {out, err, false});
  return {code, out.str(), err.str()};
}

}  // namespace zandor::testing
