// BMP codec: 8-bit palettised (grey or any palette) and 24-bit uncompressed images with the
// 14-byte file header and the 40-byte information header, rows stored bottom-up.
// Nothing here prints; failure is reported by the result.
#pragma once

#include <cstddef>
#include <cstdint>

#include "nrutil/files.h"

// One palette entry, in file order.
struct Color32 {
  unsigned char B;
  unsigned char G;
  unsigned char R;
  unsigned char O;
};

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

// Why ChargeBMP refused a file (for the caller's message).
enum class LoadError {
  None,
  CannotOpen,
  ShortHeader,
  NotBmp,             // signature is not "BM"
  UnsupportedLayout,  // bit count / pixel offset not 8/1078, 8/54+4*BiClrUsed or 24/54
  Compressed,         // compression field 1
  BadSize,            // width or height zero or negative (top-down)
  ShortPalette,
  ShortRows,
  OutOfMemory,
};

// Reads a BMP file in two steps, so that the caller can check the size and provide (or
// reuse) the rows before any pixel is read: open() reads and checks the header and the
// palette, read_rows() moves every row, bottom-up in the file, into the caller's rows in
// large blocks.
class FileReader {
 public:
  FileReader() = default;
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // Reads and checks the header and (8-bit) the palette; refuses what ChargeBMP refuses,
  // including a file too short for its rows.
  LoadError open(const char* Name);
  int nb_col() const { return nb_col_; }
  int nb_lig() const { return nb_lig_; }
  // 0 grey palette, 1 other palette, 2 24-bit.
  int type() const { return type_; }
  // Bytes of one row in the grid: nb_col, or 3 * nb_col for 24-bit.
  std::size_t row_bytes() const { return row_bytes_; }
  // The 256 palette entries as read (entries a short palette lacks, and all of a 24-bit
  // file's, are zero).
  const Color32* palette() const { return palette_; }
  // Fills rows[0] (the top row) to rows[nb_lig - 1], row_bytes each; closes the file.
  LoadError read_rows(unsigned char* const* rows);
  // Fills rows[0] to rows[count - 1] with the grid rows first to first + count - 1 (row 0 at
  // the top): one stretch of the file, read in one go, the file storing the bottom row first.
  // Leaves the file open for the next block.
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
  int type_ = 0;
  std::size_t row_bytes_ = 0;
  std::size_t stride_ = 0;
  Color32 palette_[kPaletteEntries] = {};
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

// ChargeBMP with the reason of a refusal in *why (when why is not null).
unsigned char** load(const char* Name, int& NbCol, int& NbLig, int& Type, Color32*& ColorMAP,
                     LoadError* why);

// Releases a grid returned by ChargeBMP (rows and row array made with new[]).
void free_grid(unsigned char** grid, int NbLig);
}  // namespace bmp

// Writes Buff (NbLig rows of NbCol*taille bytes, row 0 at the top) as a BMP file.
// Type 0: 8-bit with the grey palette; 1: 8-bit with ColorMAP; 2: 24-bit.
// The palette written is ColorMAP when not null, else the grey ramp. A name taken by a
// folder, a device or a named pipe is refused (nrutil::open_output). Returns 0 or -1.
int SauveBMP(const char* Nom, unsigned char** Buff, int NbCol, int NbLig, int Type,
             const Color32* ColorMAP);

// Reads an 8-bit or 24-bit BMP file into a new grid (row 0 at the top), setting the
// columns, rows and Type (0 grey palette, 1 other palette, 2 24-bit). An 8-bit file carries
// 256 palette entries (pixels at 1078) or, with the 40-byte information header, the
// BiClrUsed entries (1 to 255) it declares (pixels at 54 + 4 * BiClrUsed; the entries it
// lacks read as 0). When ColorMAP is not null on entry it is replaced by a new 256-entry
// palette the caller owns (delete[]).
// Returns null on any refusal.
unsigned char** ChargeBMP(const char* Name, int& NbCol, int& NbLig, int& Type, Color32*& ColorMAP);
