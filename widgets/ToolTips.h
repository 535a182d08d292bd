#pragma once

#include <string_view>

namespace zandorui {

// The tool tip of a control, looked up by its number; empty for a control without one.
std::string_view ToolTipText(int controlId);

}  // namespace zandorui
