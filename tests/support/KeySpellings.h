#pragma once

#include <string>
#include <vector>

namespace vel::testing {

// The ways a key of 32 hexadecimal digits (given in upper case) may be written: the digits in
// either case, and the 16 pairs joined by '-', ':' or ' '.
inline std::vector<std::string> KeySpellings(const std::string& digits) {
  std::string lower = digits;
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'F' ? c + 32 : c);
  std::vector<std::string> spellings = {digits, lower};
  for (const char joint : {'-', ':', ' '}) {
    std::string joined;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
      joined += (i ? std::string(1, joint) : "") + (joint == ':' ? lower : digits).substr(i, 2);
    }
    spellings.push_back(joined);
  }
  return spellings;
}

}  // namespace vel::testing
