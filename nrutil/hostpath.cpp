// Host path mapping.
#include "nrutil/hostpath.h"

#include <cctype>

namespace nrutil {

std::string host_path(const std::string& name) {
#ifdef _WIN32
  return name;
#else
  std::string p;
  std::size_t start = 0;
  if (name.size() >= 2 && name[1] == ':' &&
      std::isalpha(static_cast<unsigned char>(name[0])) != 0) {
    p = "/mnt/";
    p.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(name[0]))));
    start = 2;
    // "X:" alone or "X:name" (relative to the drive) still lands under the drive's folder.
    if (name.size() > 2 && name[2] != '\\' && name[2] != '/') p.push_back('/');
  }
  for (std::size_t i = start; i < name.size(); ++i) p.push_back(name[i] == '\\' ? '/' : name[i]);
  return p;
#endif
}

}  // namespace nrutil
