#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace vel::testing {

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A device list's stored form of a plain text (every byte shifted by 4), for lists no row edit
// could make.
inline std::string StoredList(std::string plain) {
  for (char& c : plain) c = static_cast<char>(c + 4);
  return plain;
}

}  // namespace vel::testing
