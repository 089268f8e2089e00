// Maps the names the program builds (joined with '\', drive-letter disks) to the path
// opened on this system.
#pragma once

#include <string>

namespace nrutil {

// On POSIX: every '\' becomes '/', and a leading drive "X:" becomes "/mnt/x" (lower case).
// On Windows the name is used as built.
std::string host_path(const std::string& name);

}  // namespace nrutil
