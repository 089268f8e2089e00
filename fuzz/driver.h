// The libFuzzer entry point of one target: runs its body in a scratch folder of the process
// and aborts (which libFuzzer reports with the input) when the body finds a fault.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz/bodies.h"

namespace fuzz_driver {

// A folder of this process, removed at a normal exit: inside TESSERA_FUZZ_SCRATCH when set
// (make fuzz-run sets it and removes that folder afterwards, since libFuzzer may end the
// process without the exit handlers), else in memory when /dev/shm exists.
inline const std::string& scratch() {
  static const std::string dir = [] {
    const char* given = std::getenv("TESSERA_FUZZ_SCRATCH");
    const char* base = given != nullptr && *given != '\0'          ? given
                       : std::filesystem::is_directory("/dev/shm") ? "/dev/shm"
                                                                   : "/tmp";
    std::string tmpl = std::string(base) + "/tessera_fuzz_XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) std::abort();
    static const std::string keep = tmpl;
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(keep, ec);
    });
    return tmpl;
  }();
  return dir;
}

inline void judge(const std::string& fault) {
  if (fault.empty()) return;
  std::fprintf(stderr, "\nFAULT: %s\n", fault.c_str());
  std::abort();
}

}  // namespace fuzz_driver
