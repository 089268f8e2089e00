// `tessera_gis prepare`: the input layers and the scripted answers of a tessera_summary run,
// made from GIS rasters and a boundary.
#pragma once

namespace gis {

inline constexpr const char* kPrepareSummary =
    "write a run's layers, mask and answers (run.txt) from GIS rasters";

// Runs the command on the arguments that follow "prepare"; returns the exit status.
int prepare_command(int argc, char** argv);

}  // namespace gis
