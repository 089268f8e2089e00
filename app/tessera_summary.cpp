// The driver: runs the stages of one run in order and turns a stop into the exit status.
#include "app/tessera_summary.h"

#include <string>
#include <utility>

#include "app/stages.h"

namespace app {

int opening(Run& r) {
  try {
    start(r);
    dialogue(r);
    summation(r);
    processing_type(r);
    cell_mesh(r);
    write_result(r);
    carry_prj(r);
    // Every file is complete only once it is closed: a lost write stops the run with exit 1.
    if (!r.fpt3.close()) {
      r.fail_file(msg::kCannotWrite, r.nom_file_histo, r.pick(msg::kWhyWriteError));
    }
    if (!r.finfo.close()) {
      r.fail_file(msg::kCannotWrite, r.nom_info, r.pick(msg::kWhyWriteError));
    }
    write_run_record(r);
    r.con.flush();
    return 0;
  } catch (const RunStop& stop) {
    r.con.flush();
    return stop.status;
  }
}

int opening(std::istream& in, std::ostream& out, bool utf8) {
  Console con(in, out, utf8);
  Run r(con);
  return opening(r);
}

}  // namespace app
