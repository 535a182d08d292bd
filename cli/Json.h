#pragma once

#include "common/JsonText.h"

namespace zandor {

using vel::JsonString;

}  // namespace zandor
