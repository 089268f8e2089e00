// The subcommands of tessera_gis. Each takes the arguments that follow its name, returns the
// exit status, and throws UsageError or DataError (gis/common.h) to stop.
#pragma once

namespace gis {

struct Command {
  const char* name;
  const char* summary;  // one line for `tessera_gis --help`
  int (*run)(int argc, char** argv);
};

}  // namespace gis
