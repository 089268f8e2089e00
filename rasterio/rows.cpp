// The identity of an open file, and what a reader that cannot read anywhere answers.
#include "rasterio/rows.h"

#include <sys/stat.h>

namespace rasterio {

FileIdentity identity_of(int fd) {
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0) return FileIdentity{};
  FileIdentity id;
  id.dev = static_cast<unsigned long long>(st.st_dev);
  id.ino = static_cast<unsigned long long>(st.st_ino);
  id.size = static_cast<long long>(st.st_size);
  id.mtime_sec = static_cast<long long>(st.st_mtim.tv_sec);
  id.mtime_nsec = static_cast<long long>(st.st_mtim.tv_nsec);
  return id;
}

FileError RowReader::read_rows_at(int /*first*/, unsigned char* const* /*rows*/, int /*n*/) {
  return FileError::ReadError;
}

bool RowReader::map_rows_at(int /*first*/, const unsigned char** /*rows*/, int /*n*/,
                            nrutil::FileWindow& /*window*/) {
  return false;
}

}  // namespace rasterio
