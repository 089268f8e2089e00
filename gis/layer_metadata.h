// How a sub-index layer was made, as metadata of its GeoTIFF: the documented keys, their
// writer and their reader.
#pragma once

#include <optional>
#include <string>

#include "gdal_priv.h"

namespace gis {

// The two ways of making a sub-index that tessera_summary's detection knows.
enum class Processing { MovingWindow, SquareCellMesh };

// The value of TESSERA_PROCESSING for each type: "moving_window", "square_cell_mesh".
const char* processing_name(Processing p);

// The largest range R: a window or mesh cell of 2R + 1 = 255 cells a side.
inline constexpr int kMaxRange = 127;

// What the metadata of a layer says.
struct LayerProcessing {
  Processing type = Processing::MovingWindow;
  int range = 1;        // R: windows and mesh cells are 2R + 1 cells a side
  std::string source;   // the layer it was counted from, as named on the command line
  std::string field;    // the class field of a polygon source; "" for none
  std::string version;  // the tool that wrote it (kToolVersion)
};

// One metadata key of a layer and what it holds.
struct LayerMetadataKey {
  const char* key;
  const char* meaning;
};

// Every key, in the default metadata domain of the dataset.
inline constexpr LayerMetadataKey kLayerMetadataKeys[] = {
    {"TESSERA_PROCESSING", "moving_window or square_cell_mesh"},
    {"TESSERA_RANGE", "R, a whole number from 1 to 127: windows or mesh cells of 2R+1 cells"},
    {"TESSERA_SOURCE", "the layer the classes were counted in, as named on the command line"},
    {"TESSERA_FIELD", "the field that holds the class of a polygon source (absent otherwise)"},
    {"TESSERA_VERSION", "the tool that made the layer, e.g. 'tessera 0.4'"},
};

// Sets the keys on `ds`; false when GDAL refuses one of them.
bool write_layer_processing(GDALDataset& ds, const LayerProcessing& p);

// What `ds` says about how it was made: nullopt when it carries no TESSERA_PROCESSING key.
// A layer whose keys are present but unreadable (an unknown type, a range that is not a whole
// number from 1 to 127) is a DataError naming the dataset's file.
std::optional<LayerProcessing> read_layer_processing(GDALDataset& ds);

}  // namespace gis
