#pragma once

#include <array>

#include "engine/DeviceIdentity.h"

namespace vel {

// How an action of the engine ended.
enum class ActionEnd {
  kSucceeded,      // updated, or checked and confirmed
  kFailed,         // anything else that went wrong
  kDeclined,       // the device, or the operator, turned the file down
  kNotResponding,  // no device answered
  kBusy,           // the device answered that it is busy
  kCancelled,      // a cancel from outside cut it short
};

// What an action came to, made by the engine as it ends: how it ended, its status code (the
// text front ends show), and what it left on each unit.
struct ActionResult {
  ActionEnd end = ActionEnd::kFailed;
  int statusCode = 0;
  std::array<UnitOutcome, kMaxUnits> units{};
};

}  // namespace vel
