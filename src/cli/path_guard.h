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

}  // namespace rombolt::cli
