// Shared failure handling, GDAL set-up and whole-file writing of tessera_gis.
#include "gis/common.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "cpl_error.h"
#include "gdal.h"

namespace gis {

namespace {

std::string g_last_error;

void CPL_STDCALL keep_error(CPLErr level, CPLErrorNum, const char* text) {
  if (level >= CE_Failure && text != nullptr) g_last_error = text;
}

}  // namespace

void init_gdal() {
  GDALAllRegister();
  CPLSetErrorHandler(keep_error);
}

std::string last_gdal_error() {
  return g_last_error;
}

std::string with_gdal_reason(const std::string& file, const std::string& reason) {
  std::string text = file + ": " + reason;
  if (!g_last_error.empty()) text += " (" + g_last_error + ")";
  return text;
}

std::string temporary_beside(const std::string& path) {
  const std::filesystem::path p(path);
  const std::string dir = p.has_parent_path() ? p.parent_path().string() + "/" : std::string();
  return dir + "." + p.filename().string() + ".part-" + std::to_string(getpid());
}

void write_file_atomically(const std::string& path, const std::string& bytes) {
  const std::string tmp = temporary_beside(path);
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) throw DataError(path + ": cannot be created (" + std::strerror(errno) + ")");
  std::size_t done = 0;
  int err = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && std::rename(tmp.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(tmp.c_str());
    throw DataError(path + ": cannot be written (" + std::strerror(err) + ")");
  }
}

}  // namespace gis
