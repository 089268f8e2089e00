// The floor of the benchmarks: the least a program must do to turn K raw images into a level
// grid, with none of tessera_summary's checks, counts, masks or texts. Two streamed passes
// over the images, each in blocks of rows shared among threads: the weighted sums (each
// product rounded, added in image order) and their largest valid value, then the sums again,
// the level of each cell (equal levels from 0, the largest sum in the top level) and the
// blocks written at their place in the result file, in calls of at most 1 MiB.
//
//   floor ROWS COLS LEVELS OUT.raw THREADS IMAGE.raw:WEIGHT ...
//
// A cell is valid when the last image holds less than 255 there. The level of a valid sum s
// is the whole part of s / step, plus one, at most LEVELS; 255 for the others.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define FLOOR_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define FLOOR_KERNEL
#endif

constexpr std::size_t kBlockBytes = std::size_t{1} << 20;  // row buffers of one thread
constexpr std::size_t kWriteCall = std::size_t{1} << 20;

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "floor: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

// The sums of n cells of up to three images (one sweep) and the images after them.
void sums_of(const unsigned char* const* v, const double* w, int k, std::size_t n, double* s) {
  for (std::size_t j = 0; j < n; ++j) s[j] = 0.0 + v[0][j] * w[0];
  for (int i = 1; i < k; ++i) {
    const unsigned char* a = v[i];
    const double wa = w[i];
    for (std::size_t j = 0; j < n; ++j) s[j] = s[j] + a[j] * wa;
  }
}

typedef double Doubles __attribute__((vector_size(32)));
typedef long long Ints __attribute__((vector_size(32)));
typedef unsigned char Bytes __attribute__((vector_size(4)));

FLOOR_KERNEL double max_of(const unsigned char* const* v, const double* w, int k, std::size_t n,
                           const unsigned char* valid, double m, double* s) {
  sums_of(v, w, k, n, s);
  // Four running maxima in one vector; the cells that are not valid count as 0.
  Doubles top = {m, m, m, m};
  std::size_t j = 0;
  for (; j + 4 <= n; j += 4) {
    Doubles x;
    std::memcpy(&x, s + j, sizeof x);
    Bytes b;
    std::memcpy(&b, valid + j, sizeof b);
    const Ints lanes = __builtin_convertvector(b, Ints) != 255;
    const Doubles c = (Doubles)((Ints)x & lanes);
    const Ints greater = c > top;
    top = (Doubles)(((Ints)c & greater) | ((Ints)top & ~greater));
  }
  for (; j < n; ++j) {
    const double c = valid[j] < 255 ? s[j] : 0.0;
    m = c > m ? c : m;
  }
  for (int l = 0; l < 4; ++l) m = top[l] > m ? top[l] : m;
  return m;
}

FLOOR_KERNEL void levels_of(const unsigned char* const* v, const double* w, int k, std::size_t n,
                            const unsigned char* valid, double inv_step, int levels, double* s,
                            unsigned char* out) {
  sums_of(v, w, k, n, s);
  for (std::size_t j = 0; j < n; ++j) {
    const double x = s[j] * inv_step;
    const int l = x < levels ? static_cast<int>(x) + 1 : levels;
    out[j] = valid[j] < 255 && s[j] >= 0.0 ? static_cast<unsigned char>(l) : 255;
  }
}

struct Image {
  int fd;
  double weight;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 7) {
    std::fprintf(stderr, "usage: floor ROWS COLS LEVELS OUT.raw THREADS IMAGE.raw:WEIGHT ...\n");
    return 2;
  }
  const int rows = std::atoi(argv[1]);
  const int cols = std::atoi(argv[2]);
  const int levels = std::atoi(argv[3]);
  const char* out_name = argv[4];
  const int threads = std::max(1, std::atoi(argv[5]));
  std::vector<Image> images;
  std::vector<double> weights;
  for (int a = 6; a < argc; ++a) {
    const std::string item = argv[a];
    const std::size_t colon = item.rfind(':');
    const std::string path = item.substr(0, colon);
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) die(path);
    images.push_back({fd, std::atof(item.c_str() + colon + 1)});
    weights.push_back(images.back().weight);
  }
  const int k = static_cast<int>(images.size());
  const auto n = static_cast<std::size_t>(cols);
  const int block = static_cast<int>(std::max<std::size_t>(1, kBlockBytes / (n * k)));
  const int blocks = (rows + block - 1) / block;
  const int out = open(out_name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) die(out_name);

  // Runs pass(buffers, block) over every block on the threads; each thread keeps its buffers.
  struct Buffers {
    std::vector<unsigned char> rows;
    std::vector<double> sums;
    std::vector<unsigned char> levels;
    double max = 0.0;
  };
  std::vector<Buffers> buffers(static_cast<std::size_t>(threads));
  for (Buffers& b : buffers) {
    b.rows.resize(static_cast<std::size_t>(block) * n * k);
    b.sums.resize(n);
    b.levels.resize(static_cast<std::size_t>(block) * n);
  }
  const auto run = [&](auto pass) {
    std::atomic<int> next{0};
    const auto work = [&](int t) {
      Buffers& b = buffers[static_cast<std::size_t>(t)];
      for (int q; (q = next.fetch_add(1)) < blocks;) {
        const int first = q * block;
        const int count = std::min(block, rows - first);
        const std::size_t bytes = static_cast<std::size_t>(count) * n;
        for (int i = 0; i < k; ++i) {
          unsigned char* into = b.rows.data() + static_cast<std::size_t>(i) * block * n;
          std::size_t got = 0;
          while (got < bytes) {
            const ssize_t r = pread(images[static_cast<std::size_t>(i)].fd, into + got, bytes - got,
                                    static_cast<off_t>(first) * cols + got);
            if (r < 0) die("read");
            if (r == 0) break;
            got += static_cast<std::size_t>(r);
          }
        }
        pass(b, first, count);
      }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) pool.emplace_back(work, t);
    work(0);
    for (std::thread& t : pool) t.join();
  };
  const auto row_of = [&](Buffers& b, int i, int r, const unsigned char** v) {
    for (int m = 0; m < k; ++m) {
      v[m] =
          b.rows.data() + (static_cast<std::size_t>(m) * block + static_cast<std::size_t>(r)) * n;
    }
    (void)i;
  };

  run([&](Buffers& b, int first, int count) {
    std::vector<const unsigned char*> v(static_cast<std::size_t>(k));
    for (int r = 0; r < count; ++r) {
      row_of(b, first + r, r, v.data());
      b.max = max_of(v.data(), weights.data(), k, n, v[static_cast<std::size_t>(k - 1)], b.max,
                     b.sums.data());
    }
  });
  double max = 0.0;
  for (const Buffers& b : buffers) max = b.max > max ? b.max : max;
  const double step = max / levels;
  const double inv_step = step > 0.0 ? 1.0 / step : 0.0;

  run([&](Buffers& b, int first, int count) {
    std::vector<const unsigned char*> v(static_cast<std::size_t>(k));
    for (int r = 0; r < count; ++r) {
      row_of(b, first + r, r, v.data());
      levels_of(v.data(), weights.data(), k, n, v[static_cast<std::size_t>(k - 1)], inv_step,
                levels, b.sums.data(), b.levels.data() + static_cast<std::size_t>(r) * n);
    }
    const std::size_t bytes = static_cast<std::size_t>(count) * n;
    for (std::size_t done = 0; done < bytes;) {
      const ssize_t w = pwrite(out, b.levels.data() + done, std::min(kWriteCall, bytes - done),
                               static_cast<off_t>(first) * cols + done);
      if (w <= 0) die(out_name);
      done += static_cast<std::size_t>(w);
    }
  });
  if (close(out) != 0) die(out_name);
  return 0;
}
