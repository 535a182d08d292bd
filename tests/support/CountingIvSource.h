#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "link/TcpLink.h"

namespace vel::testing {

// The IV of connect k (from 1; k taken modulo 16) of a link given a CountingIvSource: the
// bytes k0 k1 ... kF, so connect 1 sends 10 11 ... 1F and connect 2 sends 20 21 ... 2F. Fixed,
// so an enciphered exchange is the same every time, and a fresh one for every connect.
inline std::vector<std::uint8_t> CountedIv(int connect) {
  std::vector<std::uint8_t> iv(kCipherBlockSize);
  for (std::size_t i = 0; i < iv.size(); ++i) {
    iv[i] = static_cast<std::uint8_t>(((connect & 0x0F) << 4) | static_cast<int>(i));
  }
  return iv;
}

inline IvSource CountingIvSource() {
  auto connects = std::make_shared<int>(0);
  return [connects](std::uint8_t* iv) {
    const auto next = CountedIv(++*connects);
    std::copy(next.begin(), next.end(), iv);
    return true;
  };
}

}  // namespace vel::testing
