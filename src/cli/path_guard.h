// The files a run only describes (--trace, --report) must never be one of the
// files it works on: opened for writing, they would wipe an image, a save or
// the backup just made.
#pragma once

#include <string>
#include <vector>

namespace rombolt::cli {

// Whether two paths name the same file: the same device and inode where both
// exist, otherwise the same path once made absolute and resolved.
bool SameFile(const std::string& a, const std::string& b);

// For each of `outputs` (the trace or report path, with its option name as
// "what") checks that it names none of `files` and none of the other
// outputs. Returns the first clash as a usage message, or "".
struct NamedPath {
    std::string what;  // "--trace", "--report", "image", ...
    std::string path;
};
std::string PathClash(const std::vector<NamedPath>& outputs, const std::vector<NamedPath>& files);

// A backup's output must be a file: into a pipe or a device the data would
// mix with other output, or the program would wait on its own output (a FIFO
// nobody reads, /dev/zero read back for the checksum). Why `path` is refused,
// or "" for a file, a new name or a folder (which the backup itself refuses).
std::string BackupOutputRefusal(const std::string& path);

}  // namespace rombolt::cli
