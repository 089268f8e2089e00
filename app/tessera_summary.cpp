// The driver: runs the stages of one run in order, each handing its result to the next, and
// turns a stop into the exit status.
#include "app/tessera_summary.h"

#include <string>
#include <vector>

#include "app/stages.h"
#include "core/result.h"

namespace app {

namespace {

// The grids whose .prj a georeferenced result carries, in the order they are looked at: the
// images, then the mask.
std::vector<core::InputGrid> prj_sources(const Setup& setup) {
  std::vector<core::InputGrid> grids;
  for (const core::ImageParameter& im : setup.params.images) grids.push_back(im.grid);
  if (setup.params.mask) grids.push_back(*setup.params.mask);
  return grids;
}

}  // namespace

int opening(Ui& ui, RunNames* names) {
  try {
    start(ui);
    const Setup setup = dialogue(ui);
    if (names != nullptr) *names = RunNames{setup.params, setup.files};
    Inputs inputs = read_images(ui, setup, true);
    core::Summation sums = summation(ui, setup, inputs);
    Processing p = processing_type(ui, setup, sums.grid, inputs.georef);
    cell_mesh(ui, setup, sums.grid, p);
    const Written w = write_result(ui, setup, inputs, sums.grid, p);
    std::optional<core::CarriedPrj> prj;
    if (rasterio::format_of(setup.params.output_format)->georeferenced) {
      prj = ui.take(core::carry_prj(prj_sources(setup), setup.files.prj));
    }
    // Every file is complete only once it is closed: a lost write stops the run with exit 1.
    if (!ui.histogram_file.close()) {
      ui.fail_file(msg::kCannotWrite, setup.files.histogram, ui.pick(msg::kWhyWriteError));
    }
    if (!ui.report_file.close()) {
      ui.fail_file(msg::kCannotWrite, setup.files.info, ui.pick(msg::kWhyWriteError));
    }
    write_run_record(ui, setup, inputs, sums, p, w, prj);
    ui.con.flush();
    return 0;
  } catch (const RunStop& stop) {
    ui.con.flush();
    return stop.status;
  }
}

int opening(std::istream& in, std::ostream& out, bool utf8) {
  Console con(in, out, utf8);
  Ui ui(con);
  return opening(ui);
}

}  // namespace app
