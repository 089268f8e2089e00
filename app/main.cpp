// Entry point: wires the real console to the driver and returns its exit status.
#include <langinfo.h>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "app/tessera_summary.h"
#include "nrutil/files.h"

int main() {
  std::ios::sync_with_stdio(false);
  // A reader that closes the console early (`... | head`) makes writes fail rather than end
  // the program unseen: the lost console text is then told below, as any console failure.
  std::signal(SIGPIPE, SIG_IGN);
  // Under a limit on the size of written files (ulimit -f) a write past it fails like a write
  // to a full disk, and is told as such, instead of ending the program unseen.
  std::signal(SIGXFSZ, SIG_IGN);
  // Ctrl-C or kill during a run leaves no temporary file beside the results.
  nrutil::remove_temporaries_on_termination();
  // Only the character type follows the user's locale: numbers stay in the C locale.
  std::setlocale(LC_CTYPE, "");
  const char* codeset = nl_langinfo(CODESET);
  const bool utf8 = codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0;
  const int status = app::opening(std::cin, std::cout, utf8);
  // Console text that could not be written (a full device, a closed pipe) is a failure too.
  if (!std::cout.flush()) {
    std::fputs("tessera_summary: the console output could not be written\n", stderr);
    return 1;
  }
  return status;
}
