// The driver of a whole run.
#pragma once

#include <istream>
#include <ostream>

#include "app/ui.h"
#include "core/parameters.h"
#include "rasterio/run_files.h"

namespace app {

// The names of a run once its dialogue has gathered them: what it reads and writes.
struct RunNames {
  core::RunParameters params;
  rasterio::RunFiles files;
};

// Runs every stage once through the given front-end; returns the exit status (0 success, 1
// when the run stopped on a bad file, a failed write or the end of the answers). `names`,
// when given, receives the run's names as soon as the dialogue has gathered them (for tools
// that check which files a run may touch).
int opening(Ui& ui, RunNames* names = nullptr);

// A whole run over the given streams.
int opening(std::istream& in, std::ostream& out, bool utf8);

}  // namespace app
