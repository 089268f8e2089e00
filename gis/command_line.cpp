// Walking a command line.
#include "gis/command_line.h"

#include <charconv>
#include <system_error>

#include "gis/common.h"
#include "rasterio/run_files.h"

namespace gis {

bool CommandLine::next() {
  if (++i_ >= argc_) return false;
  arg_ = argv_[i_];
  if (!options_done_ && arg_ == "--") {
    options_done_ = true;
    return next();
  }
  return true;
}

bool CommandLine::is(std::string_view name) const {
  return arg_ == name || (arg_.size() > name.size() && arg_.substr(0, name.size()) == name &&
                          arg_[name.size()] == '=');
}

std::string CommandLine::value(std::string_view name) {
  if (arg_.size() > name.size()) return std::string(arg_.substr(name.size() + 1));
  if (i_ + 1 >= argc_) throw UsageError(std::string(name) + " needs a value");
  return argv_[++i_];
}

int CommandLine::whole(std::string_view name, int lo, int hi) {
  const std::string text = value(name);
  int v = 0;
  const char* end = text.data() + text.size();
  const auto [p, ec] = std::from_chars(text.data(), end, v);
  if (text.empty() || ec != std::errc() || p != end || v < lo || v > hi) {
    throw UsageError(std::string(name) + " takes a whole number from " + std::to_string(lo) +
                     " to " + std::to_string(hi) + ", not '" + text + "'");
  }
  return v;
}

void check_layer_count(std::size_t count) {
  if (count > static_cast<std::size_t>(rasterio::kMaxImages)) {
    throw UsageError("at most " + std::to_string(rasterio::kMaxImages) +
                     " layers are summed, not " + std::to_string(count));
  }
}

}  // namespace gis
