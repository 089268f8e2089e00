// tessera_gis export: a run's result as a styled GeoTIFF, a PNG map with its world file and
// a self-contained report page, from the run record "<R>_run.json".
#pragma once

namespace gis {

// `tessera_gis export R [--palette NAME] [--title TEXT]`; argv holds the arguments after the
// command's name. Returns the exit status; throws UsageError or DataError.
int export_command(int argc, char** argv);

}  // namespace gis
