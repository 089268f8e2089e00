// Shared failure handling, GDAL set-up and whole-file writing of tessera_gis.
#include "gis/common.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

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

std::string exact_decimal(double v) {
  char buf[400];  // the longest double in fixed notation has 309 digits and a sign
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  return std::string(buf, r.ptr);
}

void write_file_atomically(const std::string& path, const std::string& bytes) {
  StagedFile f(path);
  f.write(bytes);
  f.commit();
}

StagedFile::StagedFile(std::string path) : path_(std::move(path)), tmp_(temporary_beside(path_)) {
  fd_ = ::open(tmp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ < 0) throw DataError(path_ + ": cannot be created (" + std::strerror(errno) + ")");
}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : path_(std::move(other.path_)), tmp_(std::move(other.tmp_)), fd_(other.fd_) {
  other.tmp_.clear();
  other.fd_ = -1;
}

StagedFile::~StagedFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!tmp_.empty()) ::unlink(tmp_.c_str());
}

void StagedFile::fail(const char* what, int err) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  ::unlink(tmp_.c_str());
  tmp_.clear();
  throw DataError(path_ + ": " + what + " (" + std::strerror(err) + ")");
}

void StagedFile::write(const char* data, std::size_t size) {
  if (fd_ < 0) throw std::logic_error("StagedFile::write after commit");
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd_, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail("cannot be written", n < 0 ? errno : EIO);
    done += static_cast<std::size_t>(n);
  }
}

void StagedFile::commit() {
  if (fd_ < 0) throw std::logic_error("StagedFile::commit twice");
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) fail("cannot be written", errno);
  if (std::rename(tmp_.c_str(), path_.c_str()) != 0) fail("cannot be written", errno);
  tmp_.clear();
}

std::string read_file(const std::string& path, std::uintmax_t limit) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    throw DataError(path + ": cannot be read (" + std::strerror(errno) + ")");
  }
  if (!S_ISREG(st.st_mode)) throw DataError(path + ": cannot be read (not a regular file)");
  if (static_cast<std::uintmax_t>(st.st_size) > limit) {
    throw DataError(path + ": cannot be read (too large for this kind of file)");
  }
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) throw DataError(path + ": cannot be read (" + std::strerror(errno) + ")");
  std::string bytes;
  char buf[1 << 16];
  std::size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) throw DataError(path + ": cannot be read (read error)");
  return bytes;
}

}  // namespace gis
