#pragma once

#include <string>
#include <string_view>

namespace zandor {

// A JSON string literal for `text`, control characters escaped.
std::string JsonString(std::string_view text);

}  // namespace zandor
