// Shared pieces of the fuzz targets: a fresh state with a silent front end and
// a private scratch directory per process.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/app_state.h"

namespace rombolt::fuzz {

inline const std::string& ScratchDir() {
    static const std::string dir = [] {
        auto d = std::filesystem::temp_directory_path() / ("rombolt-fuzz-" + std::to_string(getpid()));
        std::filesystem::create_directories(d);
        return d.string();
    }();
    return dir;
}

inline std::string WriteScratchFile(const std::string& name, const std::uint8_t* data, size_t size) {
    const std::string path = ScratchDir() + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) __builtin_trap();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    return path;
}

struct FreshState {
    AppState s;
    SilentFrontend ui;
    NullPort port;
    FreshState() {
        s.UI = &ui;
        s.Port = &port;
        ApplyPortSelection(s);
    }
};

}  // namespace rombolt::fuzz
