// The run record "<R>_run.json": what a run read, computed and wrote, in a form that tools
// read back (tessera_gis export builds its styled map and report page from it). Written last,
// only by a run that wrote its result; a run that stops leaves none of its name.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace app {

struct Run;

// What the stages note for the record as the run goes; everything else is read from the run's
// state when the record is written.
struct RecordNotes {
  std::vector<std::string> descriptors;  // descriptors written for inputs that had none
  int confirmed = -1;                    // the type confirmed in the mesh dialogue; -1 not asked
  std::string prj, prj_from;             // the .prj written beside the result, and its source
};

// The record's name: the result's name with its folder, then "_run.json".
std::string record_name(const Run& r);

// Removes a record of this run's name left by an earlier run; called before the run replaces
// its first output, so that no record describes files it did not write. Stops the run when
// the name cannot be cleared (a folder holds it).
void remove_stale_record(Run& r);

// For an ASCII result: copies the .prj beside the first ASCII input grid that has one (the
// images in order, then the mask) to "<R>_tessum.prj", through a temporary file. Stops the
// run when it cannot be read or written.
void carry_prj(Run& r);

// Counts the cells of each value of the written result (tab_out) and writes the record
// through a temporary file renamed into place. Stops the run when it cannot be written.
void write_run_record(Run& r);

}  // namespace app
