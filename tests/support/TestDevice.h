#pragma once

#include <gtest/gtest.h>

#include "support/CheckedSimServer.h"

namespace vel::testing {

inline void AddViolationFailure(const std::string& violation) {
  ADD_FAILURE() << "protocol violation: " << violation;
}
// A simulated device for the GoogleTest suites: a protocol violation fails the test.
using TestDevice = CheckedSimServer<&AddViolationFailure>;

}  // namespace vel::testing
