#pragma once

#include <gtest/gtest.h>

#include "common/Result.h"

// A core result as a test assertion: a failure carries its reason into the test's message.
template <typename R>
testing::AssertionResult Ok(const R& result) {
  if (result) return testing::AssertionSuccess();
  return testing::AssertionFailure() << result.error();
}
