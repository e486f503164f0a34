#include "cli/path_guard.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

namespace rombolt::cli {

namespace fs = std::filesystem;

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    std::error_code ea, eb;
    const fs::path pa = fs::weakly_canonical(fs::absolute(a, ea), ea);
    const fs::path pb = fs::weakly_canonical(fs::absolute(b, eb), eb);
    if (ea || eb) return a == b;
    return pa == pb;
}

std::string PathClash(const std::vector<NamedPath>& outputs, const std::vector<NamedPath>& files) {
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const NamedPath& out = outputs[i];
        for (const NamedPath& f : files)
            if (!f.path.empty() && SameFile(out.path, f.path))
                return out.what + " " + out.path + " is the " + f.what + " " + f.path +
                       " of this run; give it a file of its own";
        for (std::size_t j = i + 1; j < outputs.size(); ++j)
            if (SameFile(out.path, outputs[j].path))
                return out.what + " and " + outputs[j].what + " name the same file " + out.path;
    }
    return "";
}

std::string BackupOutputRefusal(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) return "";
    const char* what = S_ISFIFO(st.st_mode) ? "a pipe" : S_ISSOCK(st.st_mode) ? "a socket" : "a device";
    return "backup file " + path + ": " + what + ", not a file; a backup is written to a file (then copy it)";
}

}  // namespace rombolt::cli
