#pragma once

#include <cstddef>
#include <string_view>

namespace vel {

// Compares device type codes like strncmp: up to `length` characters, a shorter code ends at its
// terminator.
bool CodeMatches(std::string_view code, std::string_view pattern, std::size_t length);

}  // namespace vel
