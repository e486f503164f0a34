// Several games behind boot loaders: writing and verifying what the layout of
// the detected cart holds.
#pragma once

#include <cstdint>

#include "ops/ops_state.h"

namespace rombolt {

// Writes (mode 0) or verifies (mode 1) the loader at chunk c. ChunkBuffer
// holds the built-in image; the loader file at s.CurrentFilePath replaces it
// when it can be opened. 0 or -1 (the operation has then been ended).
int WriteLoader(OpsState& s, int mode, std::int32_t chunk);

// Number of distinct items (loaders and games) in s.ChunkMap, in chunk order.
int CountMapItems(const OpsState& s);

}  // namespace rombolt
