#include "ops/skip_unchanged.h"

#include <algorithm>

#include "flash/flash.h"

namespace rombolt {

namespace {

std::uint8_t* Slot(OpsState& s, int k) {
    return s.KeptData.data() + static_cast<std::size_t>(k) * kChunkBytes;
}

}  // namespace

int WriteCartChunk(OpsState& s, std::int32_t n, std::int32_t length, std::int32_t* failedChunk) {
    if (s.SkipUnchanged) return ProgramChunkIfChanged(s, n, length, failedChunk);
    if (ProgramFlashChunk(s, n, length) == 0) return 0;
    if (failedChunk) *failedChunk = n;
    return -1;
}

int ProgramChunkIfChanged(OpsState& s, std::int32_t n, std::int32_t length, std::int32_t* failedChunk) {
    const auto fail = [&](std::int32_t chunk) {
        if (failedChunk) *failedChunk = chunk;
        return -1;
    };
    const int perBlock = s.Cart.Interleaved ? 8 : 4;
    const std::int32_t block = n & (s.Cart.Interleaved ? 0xFFF8 : 0xFFFC);
    const int k = n & (perBlock - 1);
    const bool first = k == 0;

    // A block erased in this operation is programmed as usual; so is a
    // length too short to compare anything.
    if ((!first && block == s.LastErasedBlock) || ((length & 0xFFFF) >> 9) == 0)
        return ProgramFlashChunk(s, n, length) == 0 ? 0 : fail(n);

    if (s.KeptBlock != block) {
        s.KeptBlock = block;
        s.KeptChunks = 0;
    }
    s.KeptData.resize(static_cast<std::size_t>(perBlock) * kChunkBytes);

    const ChunkContent found = CompareFlashChunk(s, n, length);
    std::copy(s.ChunkBuffer.bytes.begin(), s.ChunkBuffer.bytes.end(), Slot(s, k));
    if (found == ChunkContent::Equal) {
        s.KeptChunks |= 1u << k;
        return 0;
    }
    if (found == ChunkContent::Blank) {
        if (ProgramBlankChunk(s, n, length) != 0) return fail(n);
        s.KeptChunks |= 1u << k;
        return 0;
    }

    // The block has to be erased. Program the kept chunks and this one in
    // block order: the first of them erases the block (it is the block's first
    // chunk, or its block is not the one erased last), the others land in the
    // erased block. This chunk's data replaces any earlier copy of it.
    const std::uint32_t pending = s.KeptChunks | (1u << k);
    s.KeptBlock = -1;
    s.KeptChunks = 0;
    int result = 0;
    for (int j = 0; j < perBlock && result == 0; ++j) {
        if (!(pending & (1u << j))) continue;
        std::copy(Slot(s, j), Slot(s, j) + kChunkBytes, s.ChunkBuffer.bytes.begin());
        if (ProgramFlashChunk(s, block + j, length) != 0) result = fail(block + j);
    }
    std::copy(Slot(s, k), Slot(s, k) + kChunkBytes, s.ChunkBuffer.bytes.begin());
    return result;
}

}  // namespace rombolt
