// Generator of large synthetic study areas for the benchmarks: K sub-index images of
// S x S cells in one of the three input formats, shaped like the output of a square cell
// mesh or of a moving window, plus an optional mask.
//
//   gen_area DIR K S raw|bmp|asc mesh|window [SEED] [--mask]
//
// Writes DIR/img1 .. DIR/imgK with the format's extension (and the descriptor for raw),
// and DIR/mask.raw + mask.txt with --mask. The values are deterministic for a seed.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kRange = 2;              // window range r: mesh cells of 2r+1 pixels
constexpr int kCell = 2 * kRange + 1;  // square cell side
constexpr int kBand = 3;               // moving-window border band of 255
constexpr double kPixel = 25.0;        // pixel size in metres
constexpr double kXmin = 500000.0;     // lower-left corner of the ASCII grids
constexpr double kYmin = 4000000.0;

// A small, fast, deterministic generator (xorshift64*).
struct Random {
  std::uint64_t s;
  explicit Random(std::uint64_t seed) : s(seed * 2654435761u + 0x9E3779B97F4A7C15ull) {}
  std::uint32_t next() {
    s ^= s >> 12;
    s ^= s << 25;
    s ^= s >> 27;
    return static_cast<std::uint32_t>((s * 2685821657736338717ull) >> 32);
  }
};

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "gen_area: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

// One image, row by row: values 1..30 that vary smoothly with position plus noise, 255 in
// the background of its shape, and (image 1 only) a patch of 0 (cells shown as background).
class ImageRows {
 public:
  ImageRows(int size, int index, bool window, std::uint64_t seed)
      : size_(size), index_(index), window_(window), rng_(seed * 131 + index) {
    // The mesh data area ends with the last whole cell, minus a few pixels, as a mesh over
    // an area that is not a multiple of the cell side leaves it.
    mesh_end_ = size - size % kCell - 3;
    if (mesh_end_ < size / 2 + 1) mesh_end_ = size - 1;
    cell_values_.resize(static_cast<std::size_t>(size / kCell + 2));
  }

  // Fills row i (size bytes).
  void row(int i, unsigned char* out) {
    const bool mesh_row_start = i % kCell == 0;
    if (!window_ && mesh_row_start) {
      for (auto& v : cell_values_) v = value(i, static_cast<int>(&v - cell_values_.data()) * kCell);
    }
    for (int j = 0; j < size_; ++j) {
      unsigned char v;
      if (window_) {
        const bool band = i < kBand || j < kBand || i >= size_ - kBand || j >= size_ - kBand;
        v = band ? 255 : value(i, j);
      } else {
        v = (i > mesh_end_ || j > mesh_end_) ? 255 : cell_values_[j / kCell];
      }
      out[j] = v;
    }
    // Image 1 holds 0 over a small square (a lake): the result shows it as background.
    if (index_ == 1 && i >= size_ / 8 && i < size_ / 8 + size_ / 16) {
      for (int j = size_ / 8; j < size_ / 8 + size_ / 16; ++j) out[j] = 0;
    }
  }

 private:
  unsigned char value(int i, int j) {
    const int smooth = ((i / 97 + j / 89 + index_ * 7) % 20);
    int v = 1 + smooth + static_cast<int>(rng_.next() % 10);
    // A few holes of background inside the data area.
    if (rng_.next() % 997 == 0) v = 255;
    return static_cast<unsigned char>(v);
  }

  int size_;
  int index_;
  bool window_;
  Random rng_;
  int mesh_end_ = 0;
  std::vector<unsigned char> cell_values_;
};

class Output {
 public:
  explicit Output(const std::string& path) : path_(path), f_(std::fopen(path.c_str(), "wb")) {
    if (f_ == nullptr) die(path);
    std::setvbuf(f_, nullptr, _IOFBF, 1 << 20);
  }
  ~Output() {
    if (std::fclose(f_) != 0) die(path_);
  }
  void put(const void* p, std::size_t n) {
    if (std::fwrite(p, 1, n, f_) != n) die(path_);
  }
  void put(const std::string& s) { put(s.data(), s.size()); }

 private:
  std::string path_;
  std::FILE* f_;
};

void put_le(std::vector<unsigned char>& b, std::uint32_t v, int bytes) {
  for (int k = 0; k < bytes; ++k) b.push_back(static_cast<unsigned char>(v >> (8 * k)));
}

void write_descriptor(const std::string& path, int size) {
  Output d(path);
  d.put(std::to_string(size) + "\n" + std::to_string(size) + "\n1\n0\n255\n" +
        std::to_string(static_cast<int>(kPixel)) + "\n");
}

void write_image(const std::string& base, const std::string& format, int size, int index,
                 bool window, std::uint64_t seed) {
  ImageRows gen(size, index, window, seed);
  const auto n = static_cast<std::size_t>(size);
  if (format == "raw") {
    write_descriptor(base + ".txt", size);
    Output f(base + ".raw");
    std::vector<unsigned char> row(n);
    for (int i = 0; i < size; ++i) {
      gen.row(i, row.data());
      f.put(row.data(), n);
    }
  } else if (format == "bmp") {
    // 8-bit grey BMP: 14 + 40 header bytes, 1024 palette bytes, rows bottom-up, each
    // padded to a multiple of 4 bytes.
    const std::size_t stride = (n + 3) / 4 * 4;
    const std::size_t image_bytes = stride * n;
    std::vector<unsigned char> h;
    h.push_back('B');
    h.push_back('M');
    put_le(h, static_cast<std::uint32_t>(1078 + image_bytes), 4);
    put_le(h, 0, 4);
    put_le(h, 1078, 4);
    put_le(h, 40, 4);
    put_le(h, static_cast<std::uint32_t>(size), 4);
    put_le(h, static_cast<std::uint32_t>(size), 4);
    put_le(h, 1, 2);
    put_le(h, 8, 2);
    put_le(h, 0, 4);
    put_le(h, static_cast<std::uint32_t>(image_bytes), 4);
    put_le(h, 0, 4);
    put_le(h, 0, 4);
    put_le(h, 256, 4);
    put_le(h, 0, 4);
    for (int g = 0; g < 256; ++g) {
      for (int c = 0; c < 3; ++c) h.push_back(static_cast<unsigned char>(g));
      h.push_back(0);
    }
    // Rows are generated top-down and stored bottom-up: build the whole image first.
    std::vector<unsigned char> pixels(image_bytes, 0);
    for (int i = 0; i < size; ++i) gen.row(i, pixels.data() + (n - 1 - i) * stride);
    Output f(base + ".bmp");
    f.put(h.data(), h.size());
    f.put(pixels.data(), pixels.size());
  } else {
    Output f(base + ".asc");
    char head[256];
    std::snprintf(head, sizeof head,
                  "ncols %d\nnrows %d\nxllcorner %f\nyllcorner %f\ncellsize %f\n"
                  "nodata_value -9999\n",
                  size, size, kXmin, kYmin, kPixel);
    f.put(head);
    std::vector<unsigned char> row(n);
    std::string text;
    for (int i = 0; i < size; ++i) {
      gen.row(i, row.data());
      text.clear();
      for (std::size_t j = 0; j < n; ++j) {
        text += std::to_string(row[j]);
        text += j + 1 < n ? ' ' : '\n';
      }
      f.put(text);
    }
  }
}

// The mask: 1 inside the study area (all but a corner square), 255 outside.
void write_mask(const std::string& base, int size) {
  write_descriptor(base + ".txt", size);
  Output f(base + ".raw");
  std::vector<unsigned char> row(static_cast<std::size_t>(size));
  for (int i = 0; i < size; ++i) {
    for (int j = 0; j < size; ++j) row[j] = (i > size - size / 4 && j > size - size / 4) ? 255 : 1;
    f.put(row.data(), row.size());
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  bool mask = false;
  for (auto it = args.begin(); it != args.end();) {
    if (*it == "--mask") {
      mask = true;
      it = args.erase(it);
    } else {
      ++it;
    }
  }
  if (args.size() < 5 || args.size() > 6) {
    std::fprintf(stderr, "usage: gen_area DIR K S raw|bmp|asc mesh|window [SEED] [--mask]\n");
    return 2;
  }
  const std::string dir = args[0];
  const int count = std::atoi(args[1].c_str());
  const int size = std::atoi(args[2].c_str());
  const std::string format = args[3];
  const std::string shape = args[4];
  const std::uint64_t seed = args.size() == 6 ? std::strtoull(args[5].c_str(), nullptr, 10) : 1;
  if (count < 1 || size < 16 || (format != "raw" && format != "bmp" && format != "asc") ||
      (shape != "mesh" && shape != "window")) {
    std::fprintf(stderr, "gen_area: bad arguments\n");
    return 2;
  }
  for (int k = 1; k <= count; ++k) {
    write_image(dir + "/img" + std::to_string(k), format, size, k, shape == "window", seed);
  }
  if (mask) write_mask(dir + "/mask", size);
  return 0;
}
