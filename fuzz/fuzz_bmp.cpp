// libFuzzer target: the BMP block reader (bmp::FileReader), the write-back through
// bmp::FileWriter and the BMP input image reader of a run (fuzz/bodies.h) on every input.
#include "fuzz/driver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_driver::judge(fuzz_bodies::bmp_one(data, size, fuzz_driver::scratch()));
  return 0;
}
