// The level histogram and the point files: one point per mesh cell, at its centre pixel, by
// column and row and by map coordinates.
#include "app/histogram.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "nrutil/files.h"
#include "nrutil/hostpath.h"

namespace app {

namespace {

// As "%.3lf" prints it: to_chars with a precision rounds exactly as printf does.
std::string fixed3(double v) {
  char tmp[400];  // the longest double in fixed notation with 3 decimals fits
  const auto res = std::to_chars(tmp, tmp + sizeof tmp, v, std::chars_format::fixed, 3);
  return std::string(tmp, res.ptr);
}

// Text lines gathered in memory and written in large blocks to a file that appears whole or
// not at all (nrutil::AtomicFile).
class BlockWriter {
 public:
  BlockWriter(Ui& ui, const std::string& name) : ui_(ui), name_(name) {
    errno = 0;
    if (!f_.open(nrutil::host_path(name))) ui.fail_create(name, errno);
    buf_.reserve(kBlock + 1024);
  }
  void put(char c) { buf_.push_back(c); }
  void put(std::string_view text) { buf_.append(text); }
  void put(long long v) {
    char tmp[24];
    const auto res = std::to_chars(tmp, tmp + sizeof tmp, v);
    buf_.append(tmp, res.ptr);
  }
  void end_line() {
    buf_.push_back('\n');
    if (buf_.size() >= kBlock) write_out();
  }
  // Writes what is left and puts the file in place.
  void finish() {
    write_out();
    errno = 0;
    if (!f_.commit()) fail();
  }

 private:
  static constexpr std::size_t kBlock = std::size_t{1} << 20;
  void write_out() {
    errno = 0;
    if (!f_.write(buf_)) fail();
    buf_.clear();
  }
  [[noreturn]] void fail() {
    const int err = errno;
    f_.discard();
    ui_.fail_file(msg::kCannotWrite, name_,
                  err != 0 ? std::strerror(err) : ui_.pick(msg::kWhyWriteError));
  }

  Ui& ui_;
  const std::string& name_;
  nrutil::AtomicFile f_;
  std::string buf_;
};

}  // namespace

void write_histogram_table(Ui& ui, const Setup& setup, const core::ValueCounts& counts,
                           bool blank_line) {
  const int last = std::min(setup.params.level_count, 255);
  for (int k = 1; k <= last; ++k) {
    ui.histogram_file.print("%d\t%lld\n ", k,
                            static_cast<long long>(counts[static_cast<std::size_t>(k)]));
  }
  if (blank_line) ui.histogram_file.write("\n");
  ui.check_written(ui.histogram_file, setup.files.histogram);
}

void write_point_files(Ui& ui, const Setup& setup, const core::LevelGrid& grid,
                       const Processing& p) {
  ui.say(msg::kPointFilesConsole);
  const core::PointSamples samples = core::sample_points(grid, p.range, setup.params.level_count);
  BlockWriter ij(ui, setup.files.points_ij);
  BlockWriter utm(ui, setup.files.points_utm);
  const double size = p.georef.pixel_size;
  const core::Corner corner = p.georef.corner.value_or(core::Corner{});
  // Every row of points has the same eastings, and every point of a row the same northing:
  // each is formatted once.
  std::vector<std::string> eastings;
  for (const int j : samples.cols) {
    eastings.push_back(fixed3(corner.x_min + (static_cast<double>(j) + 0.5) * size));
  }
  std::size_t next = 0;
  for (const int i : samples.rows) {
    const std::string northing =
        fixed3(corner.y_min + (static_cast<double>(grid.nb_lig() - i) - 0.5) * size);
    for (std::size_t c = 0; c < samples.cols.size(); ++c) {
      const auto level = static_cast<long long>(samples.levels[next++]);
      ij.put(static_cast<long long>(samples.cols[c]));
      ij.put('\t');
      ij.put(static_cast<long long>(i));
      ij.put('\t');
      ij.put(level);
      ij.end_line();
      utm.put(eastings[c]);
      utm.put('\t');
      utm.put(northing);
      utm.put('\t');
      utm.put(level);
      utm.put(".000");
      utm.end_line();
    }
  }
  ij.finish();
  utm.finish();

  write_histogram_table(ui, setup, samples.counts, false);
  ui.report(msg::kReportPointFiles);
  ui.report(msg::kReportPointFile, setup.files.points_ij.c_str());
  ui.report(msg::kReportPointFile, setup.files.points_utm.c_str());
  ui.report(msg::kReportPointHisto, setup.files.histogram.c_str());
}

}  // namespace app
