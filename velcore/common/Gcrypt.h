#pragma once

#include <string>
#include <string_view>

namespace vel {

// libgcrypt wants its version check once per process before any other call; every user of it
// calls this first.
void InitialiseGcrypt();

// The SHA-256 digest of the bytes, as 64 lower-case hexadecimal digits.
std::string Sha256Hex(std::string_view bytes);

}  // namespace vel
