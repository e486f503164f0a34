// What the flash layer knows of the cart: the identified chips and capacity,
// and what it did to them in this adapter session (the block erased last, the
// chunks a skip-unchanged write put or left in a block it did not erase).
#pragma once

#include <cstdint>
#include <vector>

#include "core/state.h"

namespace rombolt {

struct CartInfo {
    std::uint32_t CapacityBytes = 0;  // 4, 8, 16 or 32 MiB
    std::uint8_t Interleaved = 0;     // two chips, even words in the first
    std::uint8_t VelaLine = 0;        // interleaved cart that passed the line test
    // Interleaved cart of two pairs of chips, the second pair at word
    // 0x400000 (a 16 MiB cart of 4 MiB chips). A run of reads that leaves
    // one pair's 8 MiB reaches the other pair, which does not answer status.
    std::uint8_t TwoPairs = 0;
};

// The first word a chunk comparison found different from ChunkBuffer in this
// adapter session. The comparison reads the rest of that chunk to count the
// words that differ. Chunk -1: no difference found.
struct ChunkMismatch {
    std::int32_t Chunk = -1;  // cart chunk
    std::int32_t Word = 0;    // word within the chunk
    std::uint16_t CartWord = 0;
    std::uint16_t FileWord = 0;
    std::int32_t DifferingWords = 0;  // in that chunk, this one included
};

struct FlashState : CoreState {
    CartInfo Cart;
    std::int32_t LastErasedBlock = -1;
    // A block erase is given up only when its poll budget is spent and this
    // much wall time has passed since the erase began, so a slow block on a
    // fast port is not reported as failed (chips take up to several seconds).
    // 0 for a simulated cart, whose chips count reads rather than time.
    int EraseTimeFloorMs = 8000;
    // Skip-unchanged writes: the block whose chunks were last found equal to
    // the prepared data and skipped, or found blank and programmed without an
    // erase, in this operation (-1: none); which of its chunks those are (bit
    // k: chunk k of the block); and copies of their data, kept so that they
    // can be programmed again when a later chunk of the same block needs it
    // erased. Reset by adapter detection like LastErasedBlock.
    std::int32_t KeptBlock = -1;
    std::uint32_t KeptChunks = 0;
    std::vector<std::uint8_t> KeptData;
    // The cart chunk whose programming failed in the last skip-unchanged
    // chunk write (-1: none). It can be an earlier, skipped chunk of the
    // block, programmed again after the block was erased.
    std::int32_t SkipFailedChunk = -1;
    ChunkMismatch FirstMismatch;

    void BeginAdapterSession() override {
        LastErasedBlock = -1;
        FirstMismatch = {};
        KeptBlock = -1;
        KeptChunks = 0;
    }

protected:
    ~FlashState() = default;
};

}  // namespace rombolt
