// The reading stage's side of the front-end: the size questions of a raw grid without its
// descriptor, the first reading of each image with its item statistics on the console and in
// the report (told in image order whichever pass counted them), and the notes of the
// summation.
#include <algorithm>
#include <cstdint>

#include "app/stages.h"
#include "rasterio/formats.h"

namespace app {

namespace {

// Reports the items (values present) of image k (from 1) on the console and in the report.
void explor(Ui& ui, int k, const core::ImageRead& im) {
  const std::int64_t surf_image = std::int64_t{im.facts.rows} * im.facts.cols;
  int num_item = 0;
  for (const std::int64_t n : im.items) num_item += n > 0 ? 1 : 0;
  // The highest value present is left out of the list and of the count.
  const int listed = num_item - 1;
  ui.say(msg::kItemsHeadConsole, k, im.file.c_str());
  ui.say(msg::kItemsCountConsole, listed);
  ui.report(msg::kItemsHeadReport, k, im.file.c_str());
  ui.report(msg::kItemsCountReport, listed);
  if (ui.language == rasterio::answer::kSpanish) ui.con.write("\n");
  int n = 0;
  for (int v = 0; v < 256 && n < listed; ++v) {
    if (im.items[static_cast<std::size_t>(v)] == 0) continue;
    ++n;
    const auto pixels = static_cast<long long>(im.items[static_cast<std::size_t>(v)]);
    const double percent = static_cast<double>(pixels) / static_cast<double>(surf_image) * 100.0;
    ui.say(msg::kItemLine, n, v, pixels, percent);
    ui.report(msg::kItemLine, n, v, pixels, percent);
  }
  ui.con.write("\n");
}

// The value of a stage's outcome; before its failure is told, the items still untold.
template <class T>
T take_in_order(Ui& ui, Inputs& in, core::Outcome<T> outcome) {
  if (!outcome.ok()) tell_items(ui, in);
  return ui.take(std::move(outcome));
}

}  // namespace

void tell_items(Ui& ui, Inputs& in) {
  for (const std::size_t k : in.untold) {
    ui.check(core::complete_reading(in.images[k]));
    explor(ui, static_cast<int>(k) + 1, in.images[k]);
  }
  in.untold.clear();
}

core::OpenedGrid open_input(Ui& ui, const core::InputGrid& grid, const core::ReadLimits& limits,
                            const std::optional<core::Reference>& reference,
                            std::vector<std::string>& descriptors, Inputs* in) {
  // Whatever this opening says (a question, a stop) comes after the items of the images
  // before it.
  const auto before_telling = [&] {
    if (in != nullptr) tell_items(ui, *in);
  };
  const rasterio::FileFormat* f = rasterio::format_of(grid.format);
  if (f == nullptr || f->sidecar == nullptr) {
    core::Outcome<core::OpenedGrid> opened = core::open_grid(grid, nullptr, limits, reference);
    if (!opened.ok()) before_telling();
    return ui.take(std::move(opened));
  }
  core::Outcome<core::DescriptorLookup> lookup = core::look_up_descriptor(grid);
  if (!lookup.ok() || lookup.value().missing) before_telling();
  core::DescriptorLookup d = ui.take(std::move(lookup));
  if (d.missing) {
    // The size of a raw grid without its descriptor is asked, and the descriptor written.
    const std::string descr = core::descriptor_file(grid);
    ui.say(msg::kNoDescriptor, descr.c_str());
    d.descriptor.nb_lig = ui.ask_int(msg::kAskRows);
    d.descriptor.nb_col = ui.ask_int(msg::kAskCols);
    d.descriptor.pix_size = ui.ask_int(msg::kAskPixel);
    d.descriptor.third = 1;
    d.descriptor.min_al = 0;
    d.descriptor.max_al = 255;
    ui.check(core::write_descriptor(grid, d.descriptor, limits));
    descriptors.push_back(descr);
  }
  core::Outcome<core::OpenedGrid> opened = core::open_grid(grid, &d.descriptor, limits, reference);
  if (!opened.ok()) before_telling();
  return ui.take(std::move(opened));
}

Inputs read_images(Ui& ui, const Setup& setup, bool defer) {
  Inputs in;
  in.georef = setup.georef;
  std::optional<core::Reference> reference = setup.reference;
  const std::vector<core::ImageParameter>& images = setup.params.images;
  for (std::size_t k = 0; k < images.size(); ++k) {
    core::OpenedGrid opened =
        open_input(ui, images[k].grid, setup.limits, reference, in.descriptors, &in);
    if (!reference) reference = core::reference_of(opened);
    if (defer && core::can_defer(images[k].grid.format)) {
      // Read with the sums, and told after them, as long as nothing is told in between.
      in.images.push_back(take_in_order(ui, in, core::defer_image(std::move(opened), k == 0)));
      in.untold.push_back(k);
    } else {
      tell_items(ui, in);
      // An ASCII grid's values are framed by line breaks on the console.
      const bool ascii = rasterio::format_of(images[k].grid.format)->id == rasterio::Format::Ascii;
      if (ascii) ui.con.write("\n");
      in.images.push_back(ui.take(core::read_image(std::move(opened), k == 0)));
      if (ascii) ui.con.write("\n");
      explor(ui, static_cast<int>(k) + 1, in.images.back());
    }
    in.georef = core::after_grid(in.georef, in.images.back().facts);
  }
  return in;
}

core::Summation summation(Ui& ui, const Setup& setup, Inputs& inputs) {
  std::vector<core::SumInput> sums;
  for (std::size_t k = 0; k < inputs.images.size(); ++k) {
    sums.push_back({&inputs.images[k], setup.params.images[k].weight});
  }
  // The first pass counts the items of the deferred images; they are told before anything
  // else, as after a reading of their own.
  const core::SumScan scan = take_in_order(ui, inputs, core::scan_images(sums));
  tell_items(ui, inputs);
  core::Summation s = ui.take(core::level_images(sums, scan, setup.params.level_count));
  // Where no data of an image before the last enters a sum that receives a level, the run
  // says so on standard error, image by image.
  for (std::size_t k = 0; k < s.nodata_in_valid.size(); ++k) {
    if (s.nodata_in_valid[k] > 0) {
      ui.note(msg::kNodataInSum, inputs.images[k].file.c_str(),
              static_cast<long long>(s.nodata_in_valid[k]));
    }
  }
  return s;
}

}  // namespace app
