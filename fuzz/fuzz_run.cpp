// libFuzzer target: a whole run whose answers after the folder are the input, over the small
// study area of fuzz/bodies.h (RunArea), made once per process.
#include "fuzz/driver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz_bodies::RunArea area(fuzz_driver::scratch());
  fuzz_driver::judge(fuzz_bodies::run_one(data, size, area));
  return 0;
}
