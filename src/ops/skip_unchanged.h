// Writing with "skip unchanged blocks" (SkipUnchanged): a chunk whose
// flash content already equals the prepared data in ChunkBuffer is neither
// erased nor programmed, and a chunk whose flash is blank is programmed
// without an erase, so rewriting a game that changed in one place costs one
// erase block instead of the whole cart, and a new or erased cart costs no
// erase at all.
//
// Chunks arrive one at a time, so a block's fate is decided chunk by chunk:
// - a chunk of a block already erased in this operation is programmed as usual;
// - otherwise it is compared with the flash first; an equal chunk is skipped,
//   a chunk over blank flash is programmed without an erase (programming only
//   clears bits, so blank flash takes the data exactly), and a copy of either
//   is kept;
// - a chunk that differs from non-blank flash gets its block erased, and the
//   block's chunks that were skipped or programmed earlier in this operation
//   are programmed again from their copies before it, so the erase never
//   loses them.
// A block whose chunks all match or lie over blank flash is thus never erased,
// and a block that is erased ends up exactly as a normal write leaves it.
//
// The policy lives here, above the flash layer, which only erases, programs
// and compares.
#pragma once

#include <cstdint>

#include "ops/ops_state.h"

namespace rombolt {

// Writes cart chunk n from ChunkBuffer as the settings ask: by the block rule
// (ProgramFlashChunk), or with SkipUnchanged set, compared first. 0 success;
// -1 failure or stop, with *failedChunk (when given) the cart chunk that is
// not written: with SkipUnchanged that can be an earlier, skipped chunk of the
// block, programmed again after the block was erased.
int WriteCartChunk(OpsState& s, std::int32_t chunk, std::int32_t length, std::int32_t* failedChunk = nullptr);

// The skip-unchanged write of one chunk, whatever SkipUnchanged says. Same
// results as WriteCartChunk. With "Verify" on, a skipped chunk counts as
// verified by its comparison; a chunk programmed over blank flash is read back
// like any programmed chunk.
int ProgramChunkIfChanged(OpsState& s, std::int32_t chunk, std::int32_t length, std::int32_t* failedChunk);

}  // namespace rombolt
