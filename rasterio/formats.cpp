// The format table, with the BMP codec seen as a row reader and writer.
#include "rasterio/formats.h"

#include "image/bmp.h"
#include "rasterio/gridfile.h"

namespace rasterio {
namespace {

FileError error_of(bmp::LoadError e) {
  switch (e) {
    case bmp::LoadError::None:
      return FileError::None;
    case bmp::LoadError::CannotOpen:
      return FileError::CannotOpen;
    case bmp::LoadError::ShortHeader:
    case bmp::LoadError::ShortPalette:
    case bmp::LoadError::ShortRows:
      return FileError::Truncated;
    case bmp::LoadError::NotBmp:
      return FileError::NotBmp;
    case bmp::LoadError::UnsupportedLayout:
    case bmp::LoadError::Compressed:
      return FileError::BmpLayout;
    case bmp::LoadError::BadSize:
      return FileError::BmpSize;
  }
  return FileError::ReadError;
}

// An 8-bit BMP image: the stored byte of each pixel is the cell value, whatever the palette.
// Blocks of rows are read from the end of the pixel data backwards, as the file stores the
// bottom row first.
class BmpReader final : public RowReader {
 public:
  FileError open(const std::string& path, const GridInfo& /*size*/) override {
    next_ = 0;
    const FileError e = error_of(file_.open(path.c_str()));
    if (e != FileError::None) return e;
    if (file_.bit_count() != 8) return FileError::BmpLayout;  // 24-bit: three bytes a cell
    info_ = GridInfo{};
    info_.nb_col = file_.nb_col();
    info_.nb_lig = file_.nb_lig();
    identity_ = identity_of(file_.fd());
    return FileError::None;
  }
  FileError read_rows(unsigned char* const* rows, int n) override {
    const FileError e = error_of(file_.read_block(next_, n, rows));
    if (e == FileError::None) next_ += n;
    return e;
  }
  bool reads_anywhere() const override { return true; }
  FileError read_rows_at(int first, unsigned char* const* rows, int n) override {
    return error_of(file_.read_block(first, n, rows));
  }
  bool map_rows_at(int first, const unsigned char** rows, int n,
                   nrutil::FileWindow& window) override {
    // The block's rows stand bottom-up, each stride bytes after the one below. The opening
    // checked that the file holds every row.
    if (file_.fd() < 0 || n <= 0 || first < 0 || first + n > info_.nb_lig) return false;
    const std::size_t stride = file_.stride();
    const unsigned char* p =
        window.map(file_.fd(), file_.block_at(first, n), stride * static_cast<std::size_t>(n));
    if (p == nullptr) return false;
    for (int i = 0; i < n; ++i) rows[i] = p + stride * static_cast<std::size_t>(n - 1 - i);
    return true;
  }

 private:
  bmp::FileReader file_;
  int next_ = 0;
};

// An 8-bit BMP image with the grey palette.
class BmpWriter final : public RowWriter {
 public:
  FileError create(const std::string& path) override {
    next_ = 0;
    return file_.create(path.c_str()) ? FileError::None : FileError::CannotOpen;
  }
  FileError begin(const GridInfo& g) override {
    return file_.begin(g.nb_col, g.nb_lig) ? FileError::None : FileError::WriteError;
  }
  FileError write_rows(const unsigned char* const* rows, int n) override {
    if (!file_.write_block(next_, n, rows)) return FileError::WriteError;
    next_ += n;
    return FileError::None;
  }
  FileError finish() override { return file_.close() ? FileError::None : FileError::WriteError; }

 private:
  bmp::FileWriter file_;
  int next_ = 0;
};

template <class T, class Base>
std::unique_ptr<Base> make() {
  return std::make_unique<T>();
}

}  // namespace

const FileFormat kFormats[kFormatCount] = {
    {Format::Raw, "raw", ".raw", ".txt", false, true, make<RawReader, RowReader>,
     make<RawWriter, RowWriter>},
    {Format::Bmp, "bmp", ".bmp", nullptr, false, false, make<BmpReader, RowReader>,
     make<BmpWriter, RowWriter>},
    {Format::Ascii, "ascii", ".asc", nullptr, true, true, make<AsciiGridReader, RowReader>,
     make<AsciiGridWriter, RowWriter>},
};

const FileFormat* format_of(int code) {
  return code >= 0 && code < kFormatCount ? &kFormats[code] : nullptr;
}

}  // namespace rasterio
