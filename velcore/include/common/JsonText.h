#pragma once

#include <string>
#include <string_view>

namespace vel {

// A JSON string literal for `text`: always valid JSON in valid UTF-8. Well-formed UTF-8 is kept
// as it is, control characters are escaped, and a byte that is not UTF-8 is escaped as the
// Latin-1 character of its value.
std::string JsonString(std::string_view text);

}  // namespace vel
