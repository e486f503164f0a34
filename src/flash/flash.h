// Flash command sequences: ready polling, block erase, buffer programming,
// chunk read and chunk compare, on one chip or an interleaved pair.
#pragma once

#include <cstdint>

#include "flash/flash_state.h"

namespace rombolt {

inline constexpr int kReadyBudget = 16384;
inline constexpr int kEraseBudget = 524288;

// Combined status of an interleaved pair: first chip bits 0-7, second 8-15.
std::uint16_t ReadStatusPair(FlashState& s);
// 0 ready without error; 254 stopped; -1 otherwise.
int WaitFlashReady(FlashState& s);
// 0 erased; 254 stopped during the erase itself; -1 otherwise.
int EraseFlashBlock(FlashState& s, std::uint32_t wordAddress);
// 0; 254; -1.
int ProgramBuffer(FlashState& s, std::uint32_t chunkStart, std::uint32_t offset);
// 0 success; -1 failure or stop. Only the low 16 bits of length count.
int ProgramFlashChunk(FlashState& s, std::int32_t chunk, std::int32_t length);
// Fills all of ChunkBuffer from cart chunk n.
void ReadFlashChunk(FlashState& s, std::int32_t chunk);
// 0 equal; -1 at the first difference.
int VerifyFlashChunk(FlashState& s, std::int32_t chunk, std::int32_t length);

// ProgramFlashChunk without the erase, for a chunk whose flash reads blank:
// programming only clears bits, so blank flash takes the data exactly.
int ProgramBlankChunk(FlashState& s, std::int32_t chunk, std::int32_t length);
// What cart chunk n holds next to ChunkBuffer, in one read that stops as soon
// as the answer is Other. Equal wins over Blank when ChunkBuffer is all 0xFF.
// Only the low 16 bits of length count, as for VerifyFlashChunk.
enum class ChunkContent { Equal, Blank, Other };
ChunkContent CompareFlashChunk(FlashState& s, std::int32_t chunk, std::int32_t length);

}  // namespace rombolt
