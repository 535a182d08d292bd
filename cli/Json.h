#pragma once

#include <string>
#include <string_view>

#include "common/JsonText.h"

namespace zandor {

using vel::JsonString;

// A field of a JSON object ("\"name\":value", value already JSON). Every field name is
// snake_case, as in the walk report; a field that had a camelCase name before (2.4.4 and earlier)
// is also given under that name until the next release, so that scripts reading it go on
// working while they move.
inline std::string JsonField(std::string_view name, const std::string& value,
                             std::string_view formerName = {}) {
  std::string field = "\"" + std::string(name) + "\":" + value;
  if (!formerName.empty()) field += ",\"" + std::string(formerName) + "\":" + value;
  return field;
}

}  // namespace zandor
