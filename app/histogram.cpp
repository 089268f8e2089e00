// The level histogram ("_histo.xls") and, after a square-cell-mesh drawing, the two point
// files: one point per mesh cell, at its centre pixel, by column and row and by map
// coordinates.
#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/hostpath.h"
#include "app/level_grid.h"
#include "app/stages.h"
#include "core/cell_loops.h"
#include "nrutil/files.h"

namespace app {

namespace {

// A counter for every byte value, so that any cell value can be counted.
using Counts = std::array<std::int64_t, 256>;

// Counts the cell values of rows [i0, i1) and columns [j0, j1), clamped to the grid.
Counts count_values(const Run& r, std::int64_t i0, std::int64_t i1, std::int64_t j0,
                    std::int64_t j1) {
  Counts h{};
  const Span rows = clamp_span(i0, i1, r.nb_lig);
  const Span cols = clamp_span(j0, j1, r.nb_col);
  if (rows.empty() || cols.empty()) return h;
  ValueCounter counter;
  for (int i = rows.lo; i < rows.hi; ++i) {
    counter.add(r.tab_out[i] + cols.lo, static_cast<std::size_t>(cols.hi - cols.lo));
  }
  for (int b = 0; b < 256; ++b) h[static_cast<std::size_t>(b)] = counter.count(b);
  return h;
}

// One table: "%d\t%d\n " for each level 1 to num_segm.
void write_table(Run& r, const Counts& h) {
  const int last = std::min(r.num_segm, 255);
  for (int k = 1; k <= last; ++k) {
    r.fpt3.print("%d\t%lld\n ", k, static_cast<long long>(h[static_cast<std::size_t>(k)]));
  }
}

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
  BlockWriter(Run& r, const std::string& name) : r_(r), name_(name) {
    errno = 0;
    if (!f_.open(host_path(name))) r.fail_create(name, errno);
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
    r_.fail_file(msg::kCannotWrite, name_,
                 err != 0 ? std::strerror(err) : r_.pick(msg::kWhyWriteError));
  }

  Run& r_;
  const std::string& name_;
  nrutil::AtomicFile f_;
  std::string buf_;
};

}  // namespace

void moving_window_histogram(Run& r) {
  check_level_grid(r);
  const Counts h = count_values(r, r.jdeb, std::int64_t{r.nb_lig} - r.jdeb, r.jdeb,
                                std::int64_t{r.nb_col} - r.jdeb);
  write_table(r, h);
  r.fpt3.write("\n");
  r.check_written(r.fpt3, r.nom_file_histo);
  r.flag = 1;
  r.report(msg::kReportMwHistoType);
  r.report(msg::kReportMwHisto, r.nom_file_histo.c_str());
}

void cell_mesh_histogram(Run& r) {
  check_level_grid(r);
  // Mesh-line cells count under 0, which is not written; the last data row and column
  // are left out.
  const Counts h = count_values(r, 0, r.ifin, 0, r.jfin);
  write_table(r, h);
  r.fpt3.write("\n");
  r.check_written(r.fpt3, r.nom_file_histo);
  r.report(msg::kReportCellHisto, r.nom_file_histo.c_str());
}

void point_files(Run& r) {
  check_level_grid(r);
  r.say(msg::kPointFilesConsole);
  // Cells of side ws start on the mesh lines; each point is a cell's centre pixel.
  const std::int64_t hws = r.rango;
  const std::int64_t ws = 2 * hws + 1;
  Counts h{};

  BlockWriter ij(r, r.nom_file_point);
  BlockWriter utm(r, r.nom_file_utm);

  const double p = r.dpix_size;
  // Columns: only cells wholly inside the grid. Rows: also a last row of cells that lacks
  // its bottom row, as long as its centre row is inside the grid. A range below 0 has no
  // cells.
  const std::int64_t last_row =
      hws < 0 ? hws - 1 : std::min<std::int64_t>(r.nb_lig - hws, r.nb_lig - 1);
  // Every row of points has the same eastings, and every point of a row the same northing:
  // each is formatted once.
  std::vector<std::string> eastings;
  for (std::int64_t j = hws; hws >= 0 && j < r.nb_col - hws; j += ws) {
    eastings.push_back(fixed3(r.X_min + (static_cast<double>(j) + 0.5) * p));
  }
  for (std::int64_t i = hws; i <= last_row; i += ws) {
    const unsigned char* row = r.tab_out[static_cast<int>(i)];
    const std::string northing = fixed3(r.Y_min + (static_cast<double>(r.nb_lig - i) - 0.5) * p);
    std::size_t column = 0;
    for (std::int64_t j = hws; j < r.nb_col - hws; j += ws, ++column) {
      int val_loc = row[j];
      if (val_loc == kBackground) val_loc = r.num_segm;
      ij.put(static_cast<long long>(j));
      ij.put('\t');
      ij.put(static_cast<long long>(i));
      ij.put('\t');
      ij.put(static_cast<long long>(val_loc));
      ij.end_line();
      utm.put(eastings[column]);
      utm.put('\t');
      utm.put(northing);
      utm.put('\t');
      utm.put(static_cast<long long>(val_loc));
      utm.put('.');
      utm.put('0');
      utm.put('0');
      utm.put('0');
      utm.end_line();
      ++h[static_cast<std::size_t>(val_loc) & 0xFF];
    }
  }
  ij.finish();
  utm.finish();

  write_table(r, h);
  r.check_written(r.fpt3, r.nom_file_histo);

  r.report(msg::kReportPointFiles);
  r.report(msg::kReportPointFile, r.nom_file_point.c_str());
  r.report(msg::kReportPointFile, r.nom_file_utm.c_str());
  r.report(msg::kReportPointHisto, r.nom_file_histo.c_str());
}

}  // namespace app
