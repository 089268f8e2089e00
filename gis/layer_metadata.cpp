// The metadata keys that say how a sub-index layer was made.
#include "gis/layer_metadata.h"

#include <charconv>
#include <system_error>

#include "gis/common.h"

namespace gis {

namespace {

constexpr const char* kProcessingKey = kLayerMetadataKeys[0].key;
constexpr const char* kRangeKey = kLayerMetadataKeys[1].key;
constexpr const char* kSourceKey = kLayerMetadataKeys[2].key;
constexpr const char* kFieldKey = kLayerMetadataKeys[3].key;
constexpr const char* kVersionKey = kLayerMetadataKeys[4].key;

std::string item(GDALDataset& ds, const char* key) {
  const char* v = ds.GetMetadataItem(key, "");
  return v != nullptr ? v : "";
}

}  // namespace

const char* processing_name(Processing p) {
  return p == Processing::MovingWindow ? "moving_window" : "square_cell_mesh";
}

bool write_layer_processing(GDALDataset& ds, const LayerProcessing& p) {
  const std::string range = std::to_string(p.range);
  bool ok = ds.SetMetadataItem(kProcessingKey, processing_name(p.type), "") == CE_None;
  ok = ok && ds.SetMetadataItem(kRangeKey, range.c_str(), "") == CE_None;
  ok = ok && ds.SetMetadataItem(kSourceKey, p.source.c_str(), "") == CE_None;
  if (!p.field.empty()) ok = ok && ds.SetMetadataItem(kFieldKey, p.field.c_str(), "") == CE_None;
  ok = ok && ds.SetMetadataItem(kVersionKey, p.version.c_str(), "") == CE_None;
  return ok;
}

std::optional<LayerProcessing> read_layer_processing(GDALDataset& ds) {
  const std::string type = item(ds, kProcessingKey);
  if (type.empty()) return std::nullopt;
  const std::string file = ds.GetDescription();
  LayerProcessing p;
  if (type == processing_name(Processing::MovingWindow)) {
    p.type = Processing::MovingWindow;
  } else if (type == processing_name(Processing::SquareCellMesh)) {
    p.type = Processing::SquareCellMesh;
  } else {
    throw DataError(file + ": its " + kProcessingKey + " '" + type + "' is neither " +
                    processing_name(Processing::MovingWindow) + " nor " +
                    processing_name(Processing::SquareCellMesh));
  }
  const std::string range = item(ds, kRangeKey);
  const char* end = range.data() + range.size();
  const auto [ptr, ec] = std::from_chars(range.data(), end, p.range);
  if (range.empty() || ec != std::errc() || ptr != end || p.range < 1 || p.range > kMaxRange) {
    throw DataError(file + ": its " + kRangeKey + " '" + range +
                    "' is not a whole number from 1 to " + std::to_string(kMaxRange));
  }
  p.source = item(ds, kSourceKey);
  p.field = item(ds, kFieldKey);
  p.version = item(ds, kVersionKey);
  return p;
}

}  // namespace gis
