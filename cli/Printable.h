#pragma once

#include <string>
#include <string_view>

namespace zandor {

// Text from files, devices and device lists as it may reach a terminal: control characters
// (escape sequences included) and bytes that are not UTF-8 appear as "\x1B"-style escapes, the
// bidirectional formatting characters as "\u202E"; line feeds stay unless `oneLine`, which makes
// them (and carriage returns) blanks.
std::string Printable(std::string_view text, bool oneLine = false);

}  // namespace zandor
