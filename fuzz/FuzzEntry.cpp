// The libFuzzer entry of one target, chosen at build time by ZANDOR_FUZZ_TARGET.
#include <cstddef>
#include <cstdint>

#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return zandor::fuzz::ZANDOR_FUZZ_TARGET(data, size);
}
