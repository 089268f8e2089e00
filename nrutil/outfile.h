// Opening output files safely: a name taken by a folder, a device or a named pipe is refused
// before it is opened (so a run never waits on a pipe nor writes into a device), and small
// whole files are replaced only once they are complete.
#pragma once

#include <string>
#include <string_view>

namespace nrutil {

// Whether `path` exists as something other than a regular file (a folder, a device, a named
// pipe, a socket), following symbolic links.
bool is_non_regular(const std::string& path);

// Creates (or empties) the regular file `path` and opens it for writing. A name that exists
// as anything but a regular file is refused, and the opening never waits. Returns the file
// descriptor, or -1 with errno set.
int open_output(const std::string& path);

// Outcome of replace_file.
enum class Replace { Done, CannotCreate, CannotWrite };

// Makes `bytes` the whole content of `path`: writes them into a new file in the same folder
// and renames it over `path` only once it is written and closed, so that `path` is never
// left empty or cut short. A symbolic link at `path` is followed (its target is replaced).
// On failure the new file is removed, `path` is left as it was, and errno tells why.
Replace replace_file(const std::string& path, std::string_view bytes);

}  // namespace nrutil
