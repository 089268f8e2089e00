// BMP codec: header encoding, the writer SauveBMP and the reader ChargeBMP / bmp::load.
#include "image/bmp.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "nrutil/files.h"
#include "nrutil/rowio.h"

namespace {

constexpr std::uint16_t kSignature = 0x4D42;                              // "BM"
constexpr std::uint32_t kOffset8 = bmp::kHeaderSize + bmp::kPaletteSize;  // 1078
constexpr std::uint32_t kOffset24 = bmp::kHeaderSize;                     // 54
constexpr std::int32_t kPelsPerMeter = 10000;
constexpr std::uint32_t kCompressionRle8 = 1;

// Little-endian byte writer over a fixed buffer.
struct Writer {
  unsigned char* p;
  void u16(std::uint16_t v) {
    *p++ = static_cast<unsigned char>(v);
    *p++ = static_cast<unsigned char>(v >> 8);
  }
  void u32(std::uint32_t v) {
    for (int s = 0; s < 32; s += 8) *p++ = static_cast<unsigned char>(v >> s);
  }
  void i32(std::int32_t v) { u32(static_cast<std::uint32_t>(v)); }
};

// Little-endian byte reader over a fixed buffer.
struct Reader {
  const unsigned char* p;
  std::uint16_t u16() {
    const std::uint16_t v = static_cast<std::uint16_t>(p[0] | (p[1] << 8));
    p += 2;
    return v;
  }
  std::uint32_t u32() {
    std::uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v |= std::uint32_t{p[k]} << (8 * k);
    p += 4;
    return v;
  }
  std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
};

// Row stride: the row's byte count raised to the next multiple of 4.
std::int64_t row_stride(std::int64_t row_bytes) {
  return (row_bytes + 3) / 4 * 4;
}

// The 256 palette entries as the 1024 bytes of the file, B G R O each.
void encode_palette(const Color32* map, unsigned char out[bmp::kPaletteSize]) {
  for (std::size_t i = 0; i < bmp::kPaletteEntries; ++i) {
    unsigned char* e = out + 4 * i;
    if (map != nullptr) {
      e[0] = map[i].B;
      e[1] = map[i].G;
      e[2] = map[i].R;
      e[3] = map[i].O;
    } else {
      e[0] = e[1] = e[2] = static_cast<unsigned char>(i);
      e[3] = 0;
    }
  }
}

// Every row pointer of a grid is set.
bool rows_present(unsigned char* const* buff, int nb_lig) {
  for (int i = 0; i < nb_lig; ++i) {
    if (buff[i] == nullptr) return false;
  }
  return true;
}

// Reads n bytes unless the file ends first; returns the bytes read (-1 on an error).
long long read_fully(int fd, void* p, std::size_t n) {
  nrutil::Piece one{p, n};
  return nrutil::read_pieces(fd, &one, 1);
}

// An 8-bit file with the 40-byte information header that carries only BiClrUsed (1 to 255)
// palette entries, its pixel rows right after them.
bool short_palette(const BMP_Header& h) {
  return h.BiSize == bmp::kInfoHeaderSize && h.BiClrUsed >= 1 &&
         h.BiClrUsed < bmp::kPaletteEntries && h.BfOffBits == bmp::kHeaderSize + 4 * h.BiClrUsed;
}

// Releases the first `count` rows of a grid under construction and its row array.
void drop_rows(unsigned char** grid, int count) {
  for (int i = 0; i < count; ++i) delete[] grid[i];
  delete[] grid;
}

}  // namespace

namespace bmp {

void encode_header(const BMP_Header& h, unsigned char out[kHeaderSize]) {
  Writer w{out};
  w.u16(h.BfType);
  w.u32(h.BfSize);
  w.u16(h.Res1);
  w.u16(h.Res2);
  w.u32(h.BfOffBits);
  w.u32(h.BiSize);
  w.i32(h.BiWidth);
  w.i32(h.BiHeight);
  w.u16(h.BiPlanes);
  w.u16(h.BiBitCount);
  w.u32(h.BiCompression);
  w.u32(h.BiSizeImage);
  w.i32(h.BiXPelsPerMeter);
  w.i32(h.BiYPelsPerMeter);
  w.u32(h.BiClrUsed);
  w.u32(h.BiClrImportant);
}

BMP_Header decode_header(const unsigned char in[kHeaderSize]) {
  Reader r{in};
  BMP_Header h{};
  h.BfType = r.u16();
  h.BfSize = r.u32();
  h.Res1 = r.u16();
  h.Res2 = r.u16();
  h.BfOffBits = r.u32();
  h.BiSize = r.u32();
  h.BiWidth = r.i32();
  h.BiHeight = r.i32();
  h.BiPlanes = r.u16();
  h.BiBitCount = r.u16();
  h.BiCompression = r.u32();
  h.BiSizeImage = r.u32();
  h.BiXPelsPerMeter = r.i32();
  h.BiYPelsPerMeter = r.i32();
  h.BiClrUsed = r.u32();
  h.BiClrImportant = r.u32();
  return h;
}

FileReader::~FileReader() {
  if (fd_ >= 0) ::close(fd_);
}

LoadError FileReader::open(const char* Name) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (Name == nullptr) return LoadError::CannotOpen;
  // O_NONBLOCK: the opening of a named pipe does not wait for a writer (it is refused just
  // below); reading a regular file is not changed by it.
  const int fd = ::open(Name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat st {};
  if (fd < 0) return LoadError::CannotOpen;
  fd_ = fd;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return LoadError::CannotOpen;

  unsigned char head[kHeaderSize];
  if (read_fully(fd, head, kHeaderSize) != kHeaderSize) return LoadError::ShortHeader;
  const BMP_Header h = decode_header(head);
  if (h.BfType != kSignature) return LoadError::NotBmp;
  int taille = 0;
  std::size_t palette_entries = kPaletteEntries;
  if (h.BiBitCount == 8 && h.BfOffBits == kOffset8) {
    taille = 1;
    type_ = 0;
  } else if (h.BiBitCount == 8 && short_palette(h)) {
    // Other tools (Python imaging for palette images) store only the BiClrUsed entries they
    // use; the pixel rows then start right after them.
    taille = 1;
    type_ = 0;
    palette_entries = h.BiClrUsed;
  } else if (h.BiBitCount == 24 && h.BfOffBits == kOffset24) {
    taille = 3;
    type_ = 2;
  } else {
    return LoadError::UnsupportedLayout;
  }
  if (h.BiCompression == kCompressionRle8) return LoadError::Compressed;
  // Any positive 32-bit size: the caller checks the cells against memory, and the file's
  // length against its rows (below) before any grid is made.
  if (h.BiWidth <= 0 || h.BiHeight <= 0) return LoadError::BadSize;
  nb_col_ = h.BiWidth;
  nb_lig_ = h.BiHeight;
  offset_ = h.BfOffBits;

  for (Color32& c : palette_) c = Color32{};
  if (type_ != 2) {
    // Entries a short palette lacks stay 0, so such a palette is never the grey ramp.
    unsigned char pal[kPaletteSize];
    const std::size_t pal_bytes = 4 * palette_entries;
    if (read_fully(fd, pal, pal_bytes) != static_cast<long long>(pal_bytes)) {
      return LoadError::ShortPalette;
    }
    for (std::size_t i = 0; i < palette_entries; ++i) {
      palette_[i] = Color32{pal[4 * i], pal[4 * i + 1], pal[4 * i + 2], pal[4 * i + 3]};
    }
    for (std::size_t i = 0; i < kPaletteEntries; ++i) {
      if (palette_[i].R != i || palette_[i].G != i || palette_[i].B != i) {
        type_ = 1;
        break;
      }
    }
  }

  row_bytes_ = static_cast<std::size_t>(nb_col_) * taille;
  stride_ = static_cast<std::size_t>(row_stride(std::int64_t{nb_col_} * taille));
  // A regular file too short for its rows is refused before any grid is built, so a small
  // file cannot make the caller allocate a large grid for nothing.
  const std::uint64_t needed = std::uint64_t{h.BfOffBits} + std::uint64_t{stride_} * nb_lig_;
  if (static_cast<std::uint64_t>(st.st_size) < needed) return LoadError::ShortRows;
  return LoadError::None;
}

LoadError FileReader::read_rows(unsigned char* const* rows) {
  if (fd_ < 0) return LoadError::CannotOpen;
  // File order is the bottom row first; the fill bytes after each row go to a scratch
  // piece, so every pixel moves once, straight from the file into its row.
  const std::size_t fill = stride_ - row_bytes_;
  unsigned char pad[4];
  std::vector<nrutil::Piece> pieces;
  pieces.reserve(static_cast<std::size_t>(nb_lig_) * (fill != 0 ? 2 : 1));
  std::size_t total = 0;
  for (int i = nb_lig_ - 1; i >= 0; --i) {
    pieces.push_back({rows[i], row_bytes_});
    if (fill != 0) pieces.push_back({pad, fill});
    total += stride_;
  }
  const long long got = nrutil::read_pieces(fd_, pieces.data(), pieces.size());
  ::close(fd_);
  fd_ = -1;
  if (got < 0 || static_cast<std::size_t>(got) != total) return LoadError::ShortRows;
  return LoadError::None;
}

LoadError FileReader::read_block(int first, int count, unsigned char* const* rows) {
  if (fd_ < 0) return LoadError::CannotOpen;
  if (first < 0 || count < 0 || first + count > nb_lig_) return LoadError::ShortRows;
  // The block's last row stands first in the file; the fill bytes after each row go to a
  // scratch piece.
  const std::size_t fill = stride_ - row_bytes_;
  unsigned char pad[4];
  std::vector<nrutil::Piece> pieces;
  pieces.reserve(static_cast<std::size_t>(count) * 2);
  for (int i = count - 1; i >= 0; --i) {
    pieces.push_back({rows[i], row_bytes_});
    if (fill != 0) pieces.push_back({pad, fill});
  }
  const long long at = block_at(first, count);
  const long long want = static_cast<long long>(stride_) * count;
  const long long got = nrutil::read_pieces_at(fd_, at, pieces.data(), pieces.size());
  return got == want ? LoadError::None : LoadError::ShortRows;
}

FileWriter::~FileWriter() = default;

bool FileWriter::create(const char* Nom) {
  file_.discard();
  return Nom != nullptr && file_.open(Nom);
}

bool FileWriter::begin(int NbCol, int NbLig) {
  if (!file_.is_open() || NbCol <= 0 || NbLig <= 0) return false;
  const std::int64_t stride = row_stride(NbCol);
  const std::int64_t image_size = stride * NbLig;
  if (kOffset8 + image_size > std::int64_t{UINT32_MAX}) return false;
  nb_col_ = NbCol;
  nb_lig_ = NbLig;
  stride_ = static_cast<std::size_t>(stride);
  BMP_Header h{};
  h.BfType = kSignature;
  h.BiSizeImage = static_cast<std::uint32_t>(image_size);
  h.BfSize = kOffset8 + h.BiSizeImage;
  h.BfOffBits = kOffset8;
  h.BiSize = kInfoHeaderSize;
  h.BiWidth = NbCol;
  h.BiHeight = NbLig;
  h.BiPlanes = 1;
  h.BiBitCount = 8;
  h.BiXPelsPerMeter = kPelsPerMeter;
  h.BiYPelsPerMeter = kPelsPerMeter;
  unsigned char head[kOffset8];
  encode_header(h, head);
  encode_palette(nullptr, head + kHeaderSize);
  const nrutil::Piece one{head, kOffset8};
  return nrutil::write_pieces_at(file_.fd(), 0, &one, 1);
}

bool FileWriter::write_block(int first, int count, const unsigned char* const* rows) {
  if (!file_.is_open() || first < 0 || count < 0 || first + count > nb_lig_) return false;
  const std::size_t n = static_cast<std::size_t>(nb_col_);
  const std::size_t fill = stride_ - n;
  static const unsigned char kZeros[4] = {0, 0, 0, 0};
  std::vector<nrutil::Piece> pieces;
  pieces.reserve(static_cast<std::size_t>(count) * 2);
  for (int i = count - 1; i >= 0; --i) {
    pieces.push_back({const_cast<unsigned char*>(rows[i]), n});
    if (fill != 0) pieces.push_back({const_cast<unsigned char*>(kZeros), fill});
  }
  const long long at = kOffset8 + static_cast<long long>(stride_) * (nb_lig_ - first - count);
  return nrutil::write_pieces_at(file_.fd(), at, pieces.data(), pieces.size());
}

bool FileWriter::close() {
  return file_.is_open() && file_.commit();
}

unsigned char** load(const char* Name, int& NbCol, int& NbLig, int& Type, Color32*& ColorMAP,
                     LoadError* why) {
  LoadError ignored = LoadError::None;
  LoadError& err = why != nullptr ? *why : ignored;
  err = LoadError::None;

  // The palette block: the caller owns it from here on when it asked for it.
  Color32* cm = new (std::nothrow) Color32[kPaletteEntries]();
  if (cm == nullptr) {
    err = LoadError::OutOfMemory;
    return nullptr;
  }
  const bool caller_wants_palette = ColorMAP != nullptr;
  if (caller_wants_palette) ColorMAP = cm;
  std::unique_ptr<Color32[]> scratch_palette(caller_wants_palette ? nullptr : cm);

  FileReader file;
  err = file.open(Name);
  if (err != LoadError::None) return nullptr;
  std::copy(file.palette(), file.palette() + kPaletteEntries, cm);
  scratch_palette.reset();

  const int nb_lig = file.nb_lig();
  unsigned char** grid = new (std::nothrow) unsigned char*[nb_lig];
  if (grid == nullptr) {
    err = LoadError::OutOfMemory;
    return nullptr;
  }
  for (int i = 0; i < nb_lig; ++i) {
    grid[i] = new (std::nothrow) unsigned char[file.row_bytes()];
    if (grid[i] == nullptr) {
      drop_rows(grid, i);
      err = LoadError::OutOfMemory;
      return nullptr;
    }
  }
  err = file.read_rows(grid);
  if (err != LoadError::None) {
    drop_rows(grid, nb_lig);
    return nullptr;
  }
  NbCol = file.nb_col();
  NbLig = nb_lig;
  Type = file.type();
  return grid;
}

void free_grid(unsigned char** grid, int NbLig) {
  if (grid == nullptr) return;
  drop_rows(grid, NbLig);
}

}  // namespace bmp

int SauveBMP(const char* Nom, unsigned char** Buff, int NbCol, int NbLig, int Type,
             const Color32* ColorMAP) {
  if (Nom == nullptr || Buff == nullptr || NbCol <= 0 || NbLig <= 0) return -1;
  if (Type != 0 && Type != 1 && Type != 2) return -1;
  if (!rows_present(Buff, NbLig)) return -1;

  const bool true_colour = Type == 2;
  const int taille = true_colour ? 3 : 1;
  const std::uint32_t offset = true_colour ? kOffset24 : kOffset8;
  const std::int64_t row_bytes = std::int64_t{NbCol} * taille;
  const std::int64_t stride = row_stride(row_bytes);
  const std::int64_t image_size = stride * NbLig;
  // The sizes must fit the header's 32-bit fields.
  if (offset + image_size > std::int64_t{UINT32_MAX}) return -1;

  BMP_Header h{};
  h.BfType = kSignature;
  h.BiSizeImage = static_cast<std::uint32_t>(image_size);
  h.BfSize = offset + h.BiSizeImage;
  h.Res1 = 0;
  h.Res2 = 0;
  h.BfOffBits = offset;
  h.BiSize = bmp::kInfoHeaderSize;
  h.BiWidth = NbCol;
  h.BiHeight = NbLig;
  h.BiPlanes = 1;
  h.BiBitCount = true_colour ? 24 : 8;
  h.BiCompression = 0;
  h.BiXPelsPerMeter = kPelsPerMeter;
  h.BiYPelsPerMeter = kPelsPerMeter;
  h.BiClrUsed = 0;
  h.BiClrImportant = 0;

  // Header and palette are encoded in memory and written in one block.
  unsigned char head[kOffset8];
  bmp::encode_header(h, head);
  if (!true_colour) encode_palette(ColorMAP, head + bmp::kHeaderSize);

  // Header and palette, then the rows bottom-up, each followed by its zero fill bytes:
  // gathered into large writes, straight from the grid.
  const std::size_t n = static_cast<std::size_t>(row_bytes);
  const std::size_t fill = static_cast<std::size_t>(stride) - n;
  static const unsigned char kZeros[4] = {0, 0, 0, 0};
  std::vector<nrutil::Piece> pieces;
  pieces.reserve(1 + static_cast<std::size_t>(NbLig) * 2);
  pieces.push_back({head, offset});
  for (int i = NbLig - 1; i >= 0; --i) {
    pieces.push_back({Buff[i], n});
    if (fill != 0) pieces.push_back({const_cast<unsigned char*>(kZeros), fill});
  }

  const int fd = nrutil::open_output(Nom);
  if (fd < 0) return -1;
  const bool ok = nrutil::write_pieces(fd, pieces.data(), pieces.size());
  const bool closed = ::close(fd) == 0;
  return ok && closed ? 0 : -1;
}

unsigned char** ChargeBMP(const char* Name, int& NbCol, int& NbLig, int& Type, Color32*& ColorMAP) {
  return bmp::load(Name, NbCol, NbLig, Type, ColorMAP, nullptr);
}
