// AppState: everything the program keeps while it runs, one of each. Each layer
// defines its own part (core/state.h, flash/flash_state.h, image/image_state.h,
// ops/ops_state.h) and this adds the application's: the settings file and the
// game list's sort order. The front end owns one instance; every routine takes
// it (or the part of it its layer may see) explicitly, so each test builds a
// fresh one.
#pragma once

#include <cstdint>
#include <string>

#include "ops/ops_state.h"

namespace rombolt {

struct AppState final : OpsState {
    // --- the settings file ---
    ConfigRecord SavedConfig;  // the file as last read or written
    std::string ConfigPath;
    bool ConfigWritable = false;

    // --- the game list's sort order ---
    std::int32_t SortColumn = 0;
    std::uint8_t LastSortColumn = 0;
    std::uint8_t SortDescending = 0;
};

}  // namespace rombolt
