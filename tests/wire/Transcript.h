#pragma once

// The wire transcript's events and text form live in the core (link/WireTranscript.h); the golden
// tests name them from here.
#include "link/WireTranscript.h"

namespace zandor::wire {
using namespace vel::wire;
}  // namespace zandor::wire
