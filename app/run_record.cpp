// The run record "<R>_run.json" of a classic run: what it read, computed and wrote, in the
// schema every front-end shares (core/run_record.h). Written last, only by a run that wrote
// its result, through a temporary file renamed into place.
#include "core/run_record.h"

#include <cerrno>
#include <cstring>

#include "app/stages.h"
#include "nrutil/files.h"
#include "nrutil/hostpath.h"

namespace app {

namespace {

std::optional<std::string> format_name(int code) {
  const rasterio::FileFormat* f = rasterio::format_of(code);
  if (f == nullptr) return std::nullopt;
  return std::string(f->name);
}

std::optional<std::string> type_name(int type) {
  const char* name = core::processing_name(type);
  return name != nullptr ? std::optional<std::string>(name) : std::nullopt;
}

// The window range: the one asked, or the band a moving-window mesh was drawn with, else the
// band width that the detection measured for a moving window; none when neither is known.
std::optional<int> range_of(const Processing& p) {
  if (p.range >= 1) return p.range;
  if (p.type == core::kMovingWindow && p.detected.band_width >= 1) return p.detected.band_width;
  return std::nullopt;
}

}  // namespace

void write_run_record(Ui& ui, const Setup& setup, const Inputs& inputs, const core::Summation& sums,
                      const Processing& p, const Written& w,
                      const std::optional<core::CarriedPrj>& prj) {
  core::RunRecord rec;
  const core::Levels& lv = sums.levels;
  rec.level_count = setup.params.level_count;
  rec.max_sum = lv.max_sum;
  rec.step = lv.step;
  for (int k = 1; k <= rec.level_count && k <= core::kMaxLevels; ++k) {
    const std::int64_t n = w.counts[static_cast<std::size_t>(k)];
    rec.classes.push_back({k, lv.lower[k], lv.upper[k], n});
    rec.with_level += n;
  }
  rec.mesh_line = w.counts[core::kMeshLine];
  rec.outside = w.counts[core::kOutsideStudyArea];
  rec.background = w.counts[core::kBackground];
  rec.rows = sums.grid.nb_lig();
  rec.cols = sums.grid.nb_col();
  if (w.georef.pixel_size > 0.0) rec.cell_size = w.georef.pixel_size;
  if (w.georef.corner) {
    rec.x_min = w.georef.corner->x_min;
    rec.y_min = w.georef.corner->y_min;
  }
  for (std::size_t k = 0; k < inputs.images.size(); ++k) {
    const core::ImageRead& im = inputs.images[k];
    core::RecordInput in{
        im.file, format_name(im.input.format).value_or(""), setup.params.images[k].weight, {}};
    // The items as the report lists them: every value present but the highest.
    int highest = 255;
    while (highest > 0 && im.items[static_cast<std::size_t>(highest)] == 0) --highest;
    for (int v = 0; v < highest; ++v) {
      const std::int64_t n = im.items[static_cast<std::size_t>(v)];
      if (n > 0) in.items.emplace_back(v, n);
    }
    rec.inputs.push_back(std::move(in));
  }
  if (setup.mask) rec.mask = setup.mask->file;

  rec.result_file = w.image;
  rec.result_format = format_name(setup.params.output_format);
  if (!w.descriptor.empty()) rec.result_descriptor = w.descriptor;
  if (prj) {
    rec.prj = prj->file;
    rec.prj_from = prj->from;
  }
  rec.detected = type_name(p.detected.type);
  rec.confirmed = type_name(p.confirmed);
  rec.mesh_drawn = p.mesh_drawn;
  rec.range = range_of(p);

  const rasterio::RunFiles& f = setup.files;
  rec.outputs = setup.descriptors;
  rec.outputs.insert(rec.outputs.end(), inputs.descriptors.begin(), inputs.descriptors.end());
  rec.outputs.push_back(f.info);
  rec.outputs.push_back(f.histogram);
  if (p.points_written) {
    rec.outputs.push_back(f.points_ij);
    rec.outputs.push_back(f.points_utm);
  }
  if (rec.result_descriptor) rec.outputs.push_back(*rec.result_descriptor);
  rec.outputs.push_back(w.image);
  if (rec.prj) rec.outputs.push_back(*rec.prj);
  rec.outputs.push_back(f.record);

  nrutil::AtomicFile out;
  errno = 0;
  if (!out.open(nrutil::host_path(f.record))) ui.fail_create(f.record, errno);
  if (!out.write(core::record_text(rec)) || !out.commit()) {
    ui.fail(core::Failure::of(core::Failure::Kind::CannotWrite, f.record, errno));
  }
}

}  // namespace app
