// BMP codec, block by block of rows: reads 8-bit palettised and 24-bit uncompressed images,
// writes 8-bit grey ones, with the 14-byte file header and the 40-byte information header,
// rows stored bottom-up. Nothing here prints; failure is reported by the result.
#pragma once

#include <cstddef>
#include <cstdint>

#include "nrutil/files.h"

// The 54-byte header, field by field (encoded and decoded little-endian, byte by byte).
struct BMP_Header {
  std::uint16_t BfType;
  std::uint32_t BfSize;
  std::uint16_t Res1;
  std::uint16_t Res2;
  std::uint32_t BfOffBits;
  std::uint32_t BiSize;
  std::int32_t BiWidth;
  std::int32_t BiHeight;
  std::uint16_t BiPlanes;
  std::uint16_t BiBitCount;
  std::uint32_t BiCompression;
  std::uint32_t BiSizeImage;
  std::int32_t BiXPelsPerMeter;
  std::int32_t BiYPelsPerMeter;
  std::uint32_t BiClrUsed;
  std::uint32_t BiClrImportant;
};

namespace bmp {
inline constexpr std::size_t kFileHeaderSize = 14;
inline constexpr std::size_t kInfoHeaderSize = 40;
inline constexpr std::size_t kHeaderSize = kFileHeaderSize + kInfoHeaderSize;  // 54
inline constexpr std::size_t kPaletteEntries = 256;
inline constexpr std::size_t kPaletteSize = kPaletteEntries * 4;  // 1024

void encode_header(const BMP_Header& h, unsigned char out[kHeaderSize]);
BMP_Header decode_header(const unsigned char in[kHeaderSize]);

// Why FileReader refused a file (for the caller's message).
enum class LoadError {
  None,
  CannotOpen,
  ShortHeader,
  NotBmp,             // signature is not "BM"
  UnsupportedLayout,  // bit count / pixel offset not 8/1078, 8/54+4*BiClrUsed or 24/54
  Compressed,         // compression field 1
  BadSize,            // width or height zero or negative (top-down)
  ShortPalette,       // the file ends before its pixel rows start
  ShortRows,
};

// Reads a BMP file in steps, so that the caller can check the size and provide (or reuse)
// the rows before any pixel is read: open() reads and checks the header, read_block() moves
// blocks of rows into the caller's rows. The palette is not read: a pixel's stored byte is
// its value.
class FileReader {
 public:
  FileReader() = default;
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // Reads and checks the header. An 8-bit file carries 256 palette entries (pixels at 1078)
  // or, with the 40-byte information header, the BiClrUsed entries (1 to 255) it declares
  // (pixels at 54 + 4 * BiClrUsed); a 24-bit file has its pixels at 54. A file too short
  // for its rows is refused here, before the caller makes a grid of its size.
  LoadError open(const char* Name);
  int nb_col() const { return nb_col_; }
  int nb_lig() const { return nb_lig_; }
  // 8 or 24.
  int bit_count() const { return bit_count_; }
  // Fills rows[0] to rows[count - 1] (nb_col bytes each, 3 * nb_col at 24 bits) with the
  // grid rows first to first + count - 1 (row 0 at the top): one stretch of the file, read in
  // one go, the file storing the bottom row first. Leaves the file open for the next block.
  LoadError read_block(int first, int count, unsigned char* const* rows);
  // The open file (-1 when none), for the caller to look at it.
  int fd() const { return fd_; }
  // Where the rows of a block lie in the file: the stretch of grid rows first to
  // first + count - 1 starts at block_at(first, count) with the last of them, and each row
  // stands stride() bytes after the row below it.
  long long block_at(int first, int count) const {
    return offset_ + static_cast<long long>(stride_) * (nb_lig_ - first - count);
  }
  std::size_t stride() const { return stride_; }

 private:
  int fd_ = -1;
  std::uint32_t offset_ = 0;  // where the pixel rows start
  int nb_col_ = 0;
  int nb_lig_ = 0;
  int bit_count_ = 0;
  std::size_t row_bytes_ = 0;
  std::size_t stride_ = 0;
};

// Writes an 8-bit grey BMP file block of rows by block, top row first, each row at its place
// in the file (which stores the bottom row first). Every write and the close are checked.
class FileWriter {
 public:
  FileWriter() = default;
  ~FileWriter();
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // Starts the file: a temporary beside the name (nrutil::AtomicFile), refusing a name that is
  // not a regular file; false when it cannot be created (errno tells why).
  bool create(const char* Nom);
  // Writes the header and the grey palette of a grid of this size; false when the sizes do
  // not fit the header or the writing fails.
  bool begin(int NbCol, int NbLig);
  // Writes grid rows first to first + count - 1 from rows[0] to rows[count - 1].
  bool write_block(int first, int count, const unsigned char* const* rows);
  // Closes the file and puts it in place of the name; false when that fails. A writer that
  // goes away before leaves the name as it was.
  bool close();

 private:
  nrutil::AtomicFile file_;
  int nb_col_ = 0;
  int nb_lig_ = 0;
  std::size_t stride_ = 0;
};

}  // namespace bmp
