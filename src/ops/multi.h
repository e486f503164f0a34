// Several games behind boot loaders: writing and verifying what the layout of
// the detected cart holds.
#pragma once

#include <cstdint>

#include "core/operation.h"
#include "ops/commands.h"
#include "ops/ops_state.h"

namespace rombolt {

// Writes or verifies the loader at chunk c. ChunkBuffer holds the built-in
// image; the loader file at s.CurrentFilePath replaces it when it can be
// opened. 0 or -1 (`frame` has then been ended).
int WriteLoader(OpsState& s, OperationFrame& frame, MultiMode mode, std::int32_t chunk);

// Number of distinct items (loaders and games) in s.ChunkMap, in chunk order.
int CountMapItems(const OpsState& s);

}  // namespace rombolt
