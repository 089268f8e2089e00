// The driver of a whole run.
#pragma once

#include <istream>
#include <ostream>

#include "app/run.h"

namespace app {

// Runs every stage once over the given state; returns the exit status (0 success, 1 when
// the run stopped on a bad file, a failed write or the end of the answers).
int opening(Run& r);

// A whole run over the given streams.
int opening(std::istream& in, std::ostream& out, bool utf8);

}  // namespace app
