// Class methods: equal levels, min-max levels, and the exact streamed quantile search.
#include "core/classes.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace core {

namespace {

constexpr int kFirstShift = 44;  // the first pass: 2^20 bins of 2^44 keys over all doubles
constexpr int kFirstBins = 1 << 20;
constexpr int kFinerBits = 12;  // each later pass cuts a bin into 4096

}  // namespace

const char* class_method_name(ClassMethod m) {
  switch (m) {
    case ClassMethod::Equal:
      return "equal";
    case ClassMethod::MinMax:
      return "minmax";
    case ClassMethod::Quantile:
      return "quantile";
  }
  return "equal";
}

std::optional<ClassMethod> class_method_of(const std::string& name) {
  for (const ClassMethod m : {ClassMethod::Equal, ClassMethod::MinMax, ClassMethod::Quantile}) {
    if (name == class_method_name(m)) return m;
  }
  return std::nullopt;
}

Levels equal_levels(double max_valid, int count) {
  Levels lv;
  lv.build(max_valid, count);
  return lv;
}

Levels minmax_levels(double min_valid, double max_valid, int count) {
  const double step = (max_valid - min_valid) / count;
  double bounds[kMaxLevels + 1];
  bounds[0] = min_valid;
  for (int k = 1; k <= count; ++k) bounds[k] = bounds[k - 1] + step;
  Levels lv;
  lv.build_bounds(bounds, max_valid, count, step);
  return lv;
}

Levels quantile_levels(std::vector<std::pair<double, std::int64_t>> counted, int count) {
  std::sort(counted.begin(), counted.end());
  std::int64_t total = 0;
  for (const auto& c : counted) total += c.second;
  double bounds[kMaxLevels + 1];
  bounds[0] = counted.empty() ? 0.0 : counted.front().first;
  bounds[count] = counted.empty() ? 0.0 : counted.back().first;
  std::size_t v = 0;
  std::int64_t below = 0;  // sums before counted[v]
  for (int k = 1; k < count; ++k) {
    // The sum at rank floor(k * n / N), ranks ascending: v only moves up as k grows.
    const std::int64_t rank = std::min<std::int64_t>(total - 1, k * total / count);
    while (below + counted[v].second <= rank) below += counted[v++].second;
    const std::int64_t upto = below + counted[v].second;
    const std::int64_t want = static_cast<std::int64_t>(k) * total;
    const std::int64_t down = std::llabs(count * below - want);
    const std::int64_t up = std::llabs(count * upto - want);
    bounds[k] = v + 1 < counted.size() && up < down ? counted[v + 1].first : counted[v].first;
  }
  Levels lv;
  lv.build_bounds(bounds, bounds[count], count, 0.0);
  return lv;
}

std::uint64_t sum_key(double d) {
  if (d == 0.0) d = 0.0;  // -0.0 and 0.0 are one sum
  std::uint64_t bits = 0;
  std::memcpy(&bits, &d, sizeof bits);
  // Negative doubles order backwards: flip all their bits; positive ones: set the sign bit.
  return (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t{1} << 63);
}

double key_sum(std::uint64_t key) {
  const std::uint64_t bits = (key >> 63) != 0 ? key & ~(std::uint64_t{1} << 63) : ~key;
  double d = 0.0;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

QuantileSearch::QuantileSearch(int count, std::size_t budget_bytes)
    : count_(count), budget_(budget_bytes) {
  Window all;
  all.lo = 0;
  all.span = 0;
  all.shift = kFirstShift;
  all.bins.assign(kFirstBins, 0);
  windows_.push_back(std::move(all));
  min_ = std::numeric_limits<double>::infinity();
  max_ = -min_;
}

int QuantileSearch::region_of(std::uint64_t key) const {
  // The last window that starts at or before key.
  std::size_t a = 0, b = windows_.size();
  while (a < b) {
    const std::size_t m = (a + b) / 2;
    if (windows_[m].lo <= key) {
      a = m + 1;
    } else {
      b = m;
    }
  }
  if (a == 0) return -1;  // below every window: of no use
  const Window& w = windows_[a - 1];
  if (w.span == 0 || key - w.lo < w.span) return static_cast<int>(a - 1);
  return -static_cast<int>(a) - 1;  // the gap after window a - 1, as -(a - 1) - 2
}

void QuantileSearch::add(const double* sums, const unsigned char* valid, std::size_t n) {
  if (passes_ == 0) {
    Window& w = windows_[0];
    std::int64_t* bins = w.bins.data();
    double lo = min_, hi = max_;
    std::int64_t seen = 0;
    for (std::size_t j = 0; j < n; ++j) {
      if (valid[j] == 255) continue;
      const double d = sums[j];
      ++bins[sum_key(d) >> kFirstShift];
      lo = d < lo ? d : lo;
      hi = d > hi ? d : hi;
      ++seen;
    }
    min_ = lo;
    max_ = hi;
    total_ += seen;
    return;
  }
  for (std::size_t j = 0; j < n; ++j) {
    if (valid[j] == 255) continue;
    const double d = sums[j];
    const std::uint64_t key = sum_key(d);
    const int r = region_of(key);
    if (r >= 0) {
      Window& w = windows_[static_cast<std::size_t>(r)];
      ++w.bins[(key - w.lo) >> w.shift];
      ++w.count;
      double& m = window_min_[static_cast<std::size_t>(r)];
      m = d < m ? d : m;
      if (!w.overflow) {
        w.pending.push_back(d);
        if (w.pending.size() >= keep_limit_) merge(w);
      }
    } else if (r <= -2) {
      Gap& g = gaps_[static_cast<std::size_t>(-r - 2)];
      g.min = g.count == 0 || d < g.min ? d : g.min;
      ++g.count;
    }
  }
}

void QuantileSearch::merge(Window& w) {
  std::sort(w.pending.begin(), w.pending.end());
  std::vector<std::pair<double, std::int64_t>> runs;
  for (std::size_t i = 0; i < w.pending.size();) {
    std::size_t e = i + 1;
    while (e < w.pending.size() && w.pending[e] == w.pending[i]) ++e;
    runs.emplace_back(w.pending[i], static_cast<std::int64_t>(e - i));
    i = e;
  }
  w.pending.clear();
  std::vector<std::pair<double, std::int64_t>> merged;
  merged.reserve(w.kept.size() + runs.size());
  std::size_t a = 0, b = 0;
  while (a < w.kept.size() || b < runs.size()) {
    if (b == runs.size() || (a < w.kept.size() && w.kept[a].first < runs[b].first)) {
      merged.push_back(w.kept[a++]);
    } else if (a == w.kept.size() || runs[b].first < w.kept[a].first) {
      merged.push_back(runs[b++]);
    } else {
      merged.emplace_back(runs[b].first, w.kept[a].second + runs[b].second);
      ++a;
      ++b;
    }
  }
  w.kept = std::move(merged);
  if (w.kept.size() > keep_limit_) {
    // Too many distinct sums: the next pass cuts the window finer instead.
    w.overflow = true;
    std::vector<double>().swap(w.pending);
    std::vector<std::pair<double, std::int64_t>>().swap(w.kept);
  }
}

std::optional<double> QuantileSearch::smallest_after(std::size_t window) const {
  for (std::size_t j = window; j < windows_.size(); ++j) {
    if (j > window && windows_[j].count > 0) return window_min_[j];
    if (gaps_[j].count > 0) return gaps_[j].min;
  }
  return std::nullopt;
}

void QuantileSearch::resolve_from_bins(Window& w) {
  // Each target's bin: the one where the running count passes its rank.
  for (const int t : w.targets) {
    Target& tg = targets_[static_cast<std::size_t>(t)];
    std::int64_t cum = w.below;
    std::size_t b = 0;
    while (b + 1 < w.bins.size() && cum + w.bins[b] <= tg.rank) cum += w.bins[b++];
    if (w.shift == 0) {
      // A bin of one key: one sum.
      tg.found = true;
      tg.value = key_sum(w.lo + b);
      tg.below = cum;
      tg.upto = cum + w.bins[b];
      std::size_t nb = b + 1;
      while (nb < w.bins.size() && w.bins[nb] == 0) ++nb;
      if (nb < w.bins.size()) {
        tg.has_next = true;
        tg.next = key_sum(w.lo + nb);
      } else {
        const std::size_t self = static_cast<std::size_t>(&w - windows_.data());
        const std::optional<double> after = smallest_after(self);
        tg.has_next = after.has_value();
        tg.next = after.value_or(0.0);
      }
    }
  }
}

void QuantileSearch::plan_windows() {
  // After a pass: a window whose distinct sums were all kept answers its targets; the others
  // narrow each target to its bin, which the next pass searches.
  std::vector<Window> next;
  for (std::size_t i = 0; i < windows_.size(); ++i) {
    Window& w = windows_[i];
    if (!w.targets.empty() && passes_ > 1 && !w.overflow) {
      merge(w);
    }
    if (!w.targets.empty() && passes_ > 1 && !w.overflow) {
      for (const int t : w.targets) {
        Target& tg = targets_[static_cast<std::size_t>(t)];
        std::int64_t cum = w.below;
        std::size_t v = 0;
        while (v + 1 < w.kept.size() && cum + w.kept[v].second <= tg.rank)
          cum += w.kept[v++].second;
        tg.found = true;
        tg.value = w.kept[v].first;
        tg.below = cum;
        tg.upto = cum + w.kept[v].second;
        if (v + 1 < w.kept.size()) {
          tg.has_next = true;
          tg.next = w.kept[v + 1].first;
        } else {
          const std::optional<double> after = smallest_after(i);
          tg.has_next = after.has_value();
          tg.next = after.value_or(0.0);
        }
      }
      continue;
    }
    resolve_from_bins(w);
    for (const int t : w.targets) {
      Target& tg = targets_[static_cast<std::size_t>(t)];
      if (tg.found) continue;
      std::int64_t cum = w.below;
      std::size_t b = 0;
      while (b + 1 < w.bins.size() && cum + w.bins[b] <= tg.rank) cum += w.bins[b++];
      const std::uint64_t lo = w.lo + (static_cast<std::uint64_t>(b) << w.shift);
      auto same =
          std::find_if(next.begin(), next.end(), [lo](const Window& n) { return n.lo == lo; });
      if (same == next.end()) {
        Window n;
        n.lo = lo;
        n.span = std::uint64_t{1} << w.shift;
        n.shift = w.shift >= kFinerBits ? w.shift - kFinerBits : 0;
        n.below = cum;
        next.push_back(std::move(n));
        same = next.end() - 1;
      }
      same->targets.push_back(t);
    }
  }
  std::sort(next.begin(), next.end(), [](const Window& a, const Window& b) { return a.lo < b.lo; });
  windows_ = std::move(next);
  gaps_.assign(windows_.size(), Gap{});
  window_min_.assign(windows_.size(), std::numeric_limits<double>::infinity());
  keep_limit_ = windows_.empty() ? 0 : std::max<std::size_t>(budget_ / 24 / windows_.size(), 16);
  for (Window& w : windows_) w.bins.assign(static_cast<std::size_t>(w.span >> w.shift), 0);
  done_ = windows_.empty();
}

void QuantileSearch::end_pass() {
  ++passes_;
  if (passes_ == 1) {
    if (total_ == 0 || count_ <= 1) {
      windows_.clear();
      done_ = true;
      return;
    }
    for (int k = 1; k < count_; ++k) {
      Target t;
      t.rank = std::min<std::int64_t>(total_ - 1, k * total_ / count_);
      windows_[0].targets.push_back(static_cast<int>(targets_.size()));
      targets_.push_back(t);
    }
    windows_[0].below = 0;
    gaps_.assign(1, Gap{});
    window_min_.assign(1, min_);
    windows_[0].count = total_;
  }
  plan_windows();
}

Levels QuantileSearch::levels() const {
  double bounds[kMaxLevels + 1];
  bounds[0] = min_;
  bounds[count_] = max_;
  for (int k = 1; k < count_; ++k) {
    const Target& t = targets_[static_cast<std::size_t>(k - 1)];
    // Twice the distance in cells, times N: |N * c - k * n|, exact in 64 bits.
    const std::int64_t want = static_cast<std::int64_t>(k) * total_;
    const std::int64_t down = std::llabs(count_ * t.below - want);
    const std::int64_t up = std::llabs(count_ * t.upto - want);
    bounds[k] = t.has_next && up < down ? t.next : t.value;
  }
  Levels lv;
  lv.build_bounds(bounds, max_, count_, 0.0);
  return lv;
}

}  // namespace core
