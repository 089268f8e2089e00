// The stages of the classic run, called in this order by opening(). Each asks and tells
// through the Ui, hands the computation to the core, and returns what it found as a value.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/ui.h"
#include "core/detection.h"
#include "core/inputs.h"
#include "core/parameters.h"
#include "core/result.h"
#include "core/samples.h"
#include "core/summation.h"
#include "rasterio/run_files.h"

namespace app {

// What the dialogue gathered.
struct Setup {
  core::RunParameters params;
  rasterio::RunFiles files;
  std::string disk;                          // the disk as answered, for the run summary
  std::string folder;                        // the disk and folder joined, for the run summary
  std::optional<core::MaskRead> mask;        // read at once when named
  std::optional<core::Reference> reference;  // the mask's grid, when one was read
  core::Georef georef;                       // from the mask and the pixel-size answer
  std::vector<std::string> descriptors;      // written for inputs that had none
  core::ReadLimits limits;
};

// The images after their first reading.
struct Inputs {
  std::vector<core::ImageRead> images;
  core::Georef georef;                   // after every image
  std::vector<std::string> descriptors;  // written for images that had none
  // The images whose items are not told yet (their reading was left to the summation), in
  // image order.
  std::vector<std::size_t> untold;
};

// What the processing-type and mesh stages decided.
struct Processing {
  core::Detection detected;
  core::DataArea area;               // the data area the square cell mesh was drawn over
  int type = core::kSquareCellMesh;  // as confirmed, or as detected when not asked
  int confirmed = -1;                // the type confirmed in the mesh dialogue; -1 not asked
  bool mesh_drawn = false;
  int range = 0;  // the window range asked, or the band a moving-window mesh was drawn with
  bool histogram_reported = false;  // the moving-window histogram already named the type
  bool points_written = false;
  core::Georef georef;
};

// What the result stage wrote.
struct Written {
  std::string image;
  std::string descriptor;
  core::ValueCounts counts{};
  core::Georef georef;
};

// Banner, language question and introduction.
void start(Ui& ui);
// Folder, images, weights, mask (read at once), result name and format, levels, pixel size;
// builds every name, creates the histogram file and the report, writes the run summary.
Setup dialogue(Ui& ui);
// Reads a grid the run names: its descriptor question when it has none, its checks. With
// `in`, the items still untold there are told before anything this opening says.
core::OpenedGrid open_input(Ui& ui, const core::InputGrid& grid, const core::ReadLimits& limits,
                            const std::optional<core::Reference>& reference,
                            std::vector<std::string>& descriptors, Inputs* in = nullptr);
// The first reading of every image, each with its item statistics on the console and in the
// report. With `defer`, the reading of a raw or BMP image is left to the summation's first
// pass, which counts its items along with the sums (each image is then read twice instead of
// three times); its items are told after that pass, unless something is told before (a
// question, an ASCII grid's line breaks, a stop), which first has them read and told. Either
// way the console and the report say the same, in the same order.
Inputs read_images(Ui& ui, const Setup& setup, bool defer = false);
// Tells the items still untold, in image order, reading the images the summation has not
// counted.
void tell_items(Ui& ui, Inputs& in);
// Sums value x weight and gives every valid cell its level, after telling the items still
// untold; notes on standard error where no data of an image before the last enters a sum.
core::Summation summation(Ui& ui, const Setup& setup, Inputs& inputs);
// Detects square cell mesh or moving window, fills background holes with the top level, and
// writes the moving-window histogram.
Processing processing_type(Ui& ui, const Setup& setup, core::LevelGrid& grid, core::Georef georef);
// The drawing question, the confirmation of the type, the mesh parameters and the drawing;
// after a square-cell-mesh drawing, the cell histogram and the point files.
void cell_mesh(Ui& ui, const Setup& setup, core::LevelGrid& grid, Processing& p);
// Final masking, the result image, the closing lines of the report.
Written write_result(Ui& ui, const Setup& setup, const Inputs& inputs, core::LevelGrid& grid,
                     const Processing& p);
// The run record, written last.
void write_run_record(Ui& ui, const Setup& setup, const Inputs& inputs, const core::Summation& sums,
                      const Processing& p, const Written& w,
                      const std::optional<core::CarriedPrj>& prj);

}  // namespace app
