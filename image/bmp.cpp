// BMP codec: header encoding, the block reader FileReader and the block writer FileWriter.
#include "image/bmp.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
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

// The grey palette as the 1024 bytes of the file: entry i is B = G = R = i, then a zero byte.
void encode_grey_palette(unsigned char out[bmp::kPaletteSize]) {
  for (std::size_t i = 0; i < bmp::kPaletteEntries; ++i) {
    unsigned char* e = out + 4 * i;
    e[0] = e[1] = e[2] = static_cast<unsigned char>(i);
    e[3] = 0;
  }
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
  // Other tools (Python imaging for palette images) store only the BiClrUsed entries they
  // use; the pixel rows then start right after them.
  const bool eight_bit = h.BiBitCount == 8 && (h.BfOffBits == kOffset8 || short_palette(h));
  if (!eight_bit && !(h.BiBitCount == 24 && h.BfOffBits == kOffset24)) {
    return LoadError::UnsupportedLayout;
  }
  if (h.BiCompression == kCompressionRle8) return LoadError::Compressed;
  // Any positive 32-bit size: the caller checks the cells against memory, and the file's
  // length against its rows (below) before any grid is made.
  if (h.BiWidth <= 0 || h.BiHeight <= 0) return LoadError::BadSize;
  nb_col_ = h.BiWidth;
  nb_lig_ = h.BiHeight;
  offset_ = h.BfOffBits;
  bit_count_ = h.BiBitCount;
  row_bytes_ = static_cast<std::size_t>(nb_col_) * (bit_count_ / 8);
  stride_ = static_cast<std::size_t>(row_stride(static_cast<std::int64_t>(row_bytes_)));
  // A regular file too short for its rows is refused before any grid is built, so a small
  // file cannot make the caller allocate a large grid for nothing.
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (size < offset_) return LoadError::ShortPalette;
  if (size < std::uint64_t{offset_} + std::uint64_t{stride_} * nb_lig_) return LoadError::ShortRows;
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
  encode_grey_palette(head + kHeaderSize);
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

}  // namespace bmp
