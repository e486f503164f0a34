// What the flash layer knows of the cart: the identified chips and capacity,
// and what it did to them in this adapter session (the block erased last).
#pragma once

#include <cstdint>

#include "core/clock.h"
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
    ChunkMismatch FirstMismatch;
    // Where the floor's wall time is read (never null).
    Clock* EraseClock = &SteadyClock();
    void BeginAdapterSession() override {
        LastErasedBlock = -1;
        FirstMismatch = {};
    }

protected:
    ~FlashState() = default;
};

}  // namespace rombolt
