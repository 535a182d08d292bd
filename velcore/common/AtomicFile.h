#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace vel {

// Replaces `path` with `contents` so that a crash or a full disk leaves either the old file or
// the new one, never a mixture: write a temporary file beside it, flush it to disk, rename.
// On failure returns false, sets *error to the system's reason and leaves the old file alone.
bool WriteFileAtomically(const std::string& path, std::string_view contents, mode_t mode,
                         std::string* error);

}  // namespace vel
