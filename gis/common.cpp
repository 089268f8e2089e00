// Shared failure handling, GDAL set-up and whole-file writing of tessera_gis.
#include "gis/common.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>
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

std::string file_error_text(int err) {
  // nrutil's refusal of a name taken by something that is not a regular file (EISDIR is a
  // folder, whose errno text says so).
  if (err == ENXIO) return "a device, a named pipe or a socket has this name, not a regular file";
  return std::strerror(err);
}

StagedFile::StagedFile(std::string path) : path_(std::move(path)) {
  if (!file_.open(path_)) {
    throw DataError(path_ + ": cannot be created (" + file_error_text(errno) + ")");
  }
}

void StagedFile::fail(const char* what, int err) {
  file_.discard();
  throw DataError(path_ + ": " + what + " (" + file_error_text(err) + ")");
}

void StagedFile::write(const char* data, std::size_t size) {
  if (!file_.is_open()) throw std::logic_error("StagedFile::write after commit");
  if (!file_.write(std::string_view(data, size))) fail("cannot be written", errno);
}

void StagedFile::commit() {
  if (!file_.is_open()) throw std::logic_error("StagedFile::commit twice");
  if (!file_.commit()) fail("cannot be written", errno);
}

std::string read_file(const std::string& path, std::uintmax_t limit) {
  std::string bytes;
  const nrutil::ReadFile got = nrutil::read_file(path, limit, bytes);
  const int err = errno;
  switch (got) {
    case nrutil::ReadFile::Done:
      return bytes;
    case nrutil::ReadFile::Failed:
      throw DataError(path + ": cannot be read (" + std::strerror(err) + ")");
    case nrutil::ReadFile::NotRegular:
      throw DataError(path + ": cannot be read (not a regular file)");
    case nrutil::ReadFile::TooLarge:
      break;
  }
  throw DataError(path + ": cannot be read (too large for this kind of file)");
}

}  // namespace gis
