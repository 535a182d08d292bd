#pragma once

#include <string>

#include "SimServer.h"

namespace vel::testing {

// A simulated device whose protocol violations fail the test that served it: they are reported
// through `Report` when the device stops at the end of its scope.
template <void (*Report)(const std::string& violation)>
class CheckedSimServer : public sim::SimServer {
 public:
  using sim::SimServer::SimServer;
  ~CheckedSimServer() {
    Stop();
    for (const std::string& violation : Device().Violations()) Report(violation);
  }
  CheckedSimServer(const CheckedSimServer&) = delete;
  CheckedSimServer& operator=(const CheckedSimServer&) = delete;
};

}  // namespace vel::testing
