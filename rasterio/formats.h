// The three grid file formats of the system in one table: the code the dialogue uses, the
// file extension, the sidecar descriptor, and the row reader and writer of each.
#pragma once

#include <memory>

#include "rasterio/rows.h"

namespace rasterio {

enum class Format {
  Raw = 0,    // bytes, with the size in a six-integer descriptor beside them
  Bmp = 1,    // 8-bit BMP image
  Ascii = 2,  // ASCII grid with its georeferenced header
};

struct FileFormat {
  Format id;
  const char* name;     // the format's name in the run record: "raw", "bmp", "ascii"
  const char* ext;      // extension of the image file: ".raw"
  const char* sidecar;  // extension of the descriptor beside it (".txt"), or null
  // The file carries the lower-left corner and the cell size.
  bool georeferenced;
  // The file (or its descriptor) carries a pixel size.
  bool carries_pixel_size;
  std::unique_ptr<RowReader> (*reader)();
  std::unique_ptr<RowWriter> (*writer)();
};

// The formats, in the order of their codes (0 raw, 1 BMP, 2 ASCII grid).
inline constexpr int kFormatCount = 3;
extern const FileFormat kFormats[kFormatCount];

// The format of a code, or null for a code outside 0 to kFormatCount - 1.
const FileFormat* format_of(int code);

// The code of a format (its place in the table).
inline constexpr int code_of(Format f) {
  return static_cast<int>(f);
}

}  // namespace rasterio
