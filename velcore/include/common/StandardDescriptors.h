#pragma once

#include "common/Result.h"

namespace vel {

// Opens /dev/null on each standard descriptor (0 for reading, 1 and 2 for writing) the program
// was started without. Otherwise the next file, socket or terminal the program opens takes that
// number, and what the program prints goes into it (text into a device's connection, a second
// copy of a line into the log) or what it reads comes from it. Called first in main, before any
// thread or library opens anything. Fails when /dev/null cannot be opened.
Result OpenStandardDescriptors();

}  // namespace vel
