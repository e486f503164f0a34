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
#pragma once

#include <cstdint>

#include "flash/flash_state.h"

namespace rombolt {

// The skip-unchanged form of ProgramFlashChunk, which hands over to it when
// SkipUnchanged is set. Same arguments and results: 0 success, -1 failure or
// stop. With "Verify" on, a skipped chunk counts as verified by its comparison;
// a chunk programmed over blank flash is read back like any programmed chunk.
int ProgramChunkIfChanged(FlashState& s, std::int32_t chunk, std::int32_t length);

}  // namespace rombolt
