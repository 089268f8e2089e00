// Shared failure handling, GDAL set-up, progress and whole-file writing of tessera_gis.
#include "gis/common.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>
#include <utility>

#include "cpl_conv.h"
#include "gdal.h"

namespace gis {

namespace {

// The innermost GDAL session open on this thread (GDAL's error handlers are per thread).
thread_local GdalSession* t_session = nullptr;

}  // namespace

GdalSession::GdalSession() : outer_(t_session), handler_(&GdalSession::keep, this) {
  GDALAllRegister();
  t_session = this;
}

GdalSession::~GdalSession() {
  t_session = outer_;
}

void CPL_STDCALL GdalSession::keep(CPLErr level, CPLErrorNum, const char* text) {
  auto* session = static_cast<GdalSession*>(CPLGetErrorHandlerUserData());
  if (session != nullptr && level >= CE_Failure && text != nullptr) session->last_error_ = text;
}

std::string GdalSession::last_error() {
  return t_session != nullptr ? t_session->last_error_ : std::string();
}

std::string with_gdal_reason(const std::string& file, const std::string& reason) {
  std::string text = file + ": " + reason;
  if (const std::string why = GdalSession::last_error(); !why.empty()) text += " (" + why + ")";
  return text;
}

BlockCacheLimit::BlockCacheLimit(GIntBig bytes) {
  if (CPLGetConfigOption("GDAL_CACHEMAX", nullptr) != nullptr) return;
  previous_ = GDALGetCacheMax64();
  GDALSetCacheMax64(bytes);
  set_ = true;
}

BlockCacheLimit::~BlockCacheLimit() {
  if (set_) GDALSetCacheMax64(previous_);
}

void write_failed(const std::string& file) {
  std::string why = CPLGetLastErrorMsg();
  if (why.empty()) why = "write error";
  throw DataError(file + ": cannot be written (" + why + ")");
}

void check_set(CPLErr result, const std::string& file, const char* what) {
  if (result == CE_None) return;
  const std::string why = CPLGetLastErrorMsg();
  throw DataError(file + ": cannot be written (its " + what + " cannot be set" +
                  (why.empty() ? std::string() : ": " + why) + ")");
}

void set_description(GDALMajorObject& object, const char* text, const std::string& file) {
  CPLErrorReset();
  object.SetDescription(text);
  check_set(CPLGetLastErrorType() >= CE_Failure ? CE_Failure : CE_None, file, "description");
}

void close_output(GDALDatasetUniquePtr& ds, const std::string& file) {
  GDALClose(GDALDataset::ToHandle(ds.release()));
  if (CPLGetLastErrorType() >= CE_Failure) write_failed(file);
}

Progress part_of(const Progress& whole, double from, double to) {
  if (!whole) return {};
  return [whole, from, to](double done) { whole(from + (to - from) * done); };
}

ProgressSteps::ProgressSteps(Progress whole, double total_cost)
    : whole_(std::move(whole)), total_(total_cost > 0.0 ? total_cost : 1.0) {}

std::pair<double, double> ProgressSteps::span(double cost) {
  const double from = std::min(done_ / total_, 1.0);
  done_ += cost;
  return {from, std::min(done_ / total_, 1.0)};
}

Progress ProgressSteps::next(double cost) {
  const auto [from, to] = span(cost);
  return part_of(whole_, from, to);
}

void ProgressSteps::skip(double cost) {
  const double to = span(cost).second;
  if (whole_) whole_(to);
}

int CPL_STDCALL gdal_progress(double done, const char*, void* data) {
  const auto* progress = static_cast<const Progress*>(data);
  if (progress != nullptr && *progress) (*progress)(done);
  return TRUE;
}

bool take_progress_option(std::string_view arg, ProgressMode& mode) {
  ProgressMode wanted;
  if (arg == "--progress") {
    wanted = ProgressMode::Always;
  } else if (arg == "--quiet") {
    wanted = ProgressMode::Never;
  } else {
    return false;
  }
  if (mode != ProgressMode::Terminal && mode != wanted) {
    throw UsageError("give one of --progress and --quiet");
  }
  mode = wanted;
  return true;
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
