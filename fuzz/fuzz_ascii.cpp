// libFuzzer target: the ASCII grid reader and the ASCII input image reader (fuzz/bodies.h) on every
// input.
#include "fuzz/driver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_driver::judge(fuzz_bodies::ascii_one(data, size, fuzz_driver::scratch()));
  return 0;
}
