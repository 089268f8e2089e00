// tessera_gis export: a run's result as a styled GeoTIFF, a PNG map with its world file and
// a self-contained report page, from the run record "<R>_run.json".
#pragma once

#include <string>
#include <vector>

namespace gis {

// The files that `tessera_gis export R` writes beside the result, for R's last name part
// `stem`: the GeoTIFF, the PNG map with its world file, their .aux.xml, the report page.
std::vector<std::string> export_output_files(const std::string& stem);

// `tessera_gis export R [--palette NAME] [--title TEXT]`; argv holds the arguments after the
// command's name. Returns the exit status; throws UsageError or DataError.
int export_command(int argc, char** argv);

}  // namespace gis
