// The command bodies behind the main window's buttons. The window and the
// command-line tool both call these; they talk to the user only through
// the state's UI. Each returns 0 when the command did its job and nonzero when
// it failed, was cancelled or was stopped (the log and status say which).
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "ops/ops_state.h"

namespace rombolt {

// ROM write and verify of one image (row 0 of the game list); hand over to the
// multi-game path when the list has more than one row or any GB-class row.
int WriteClick(OpsState& s);
int VerifyClick(OpsState& s);
int WriteImage(OpsState& s, std::int32_t size, std::int32_t startChunk, std::uint8_t allowIps);
int VerifyImage(OpsState& s, std::int32_t size, std::int32_t startChunk, std::uint8_t allowIps);

// ROM backup. Cart sizes are offered in megabits and held as 32 KiB chunks.
struct CartSize {
    const char* item;     // dialog item text
    std::int32_t chunks;  // 32 KiB chunks
    const char* logLine;  // logged once the size is confirmed
};
inline constexpr std::array<CartSize, 6> kCartSizes = {{
    {"8M", 32, "Cart Size = 8M"},
    {"16M", 64, "Cart Size = 16M"},
    {"32M", 128, "Cart Size = 32M"},
    {"64M", 256, "Cart Size = 64M"},
    {"128M", 512, "Cart Size = 128M"},
    {"256M", 1024, "Cart Size = 256M"},
}};
// Dialog item of a chunk count, or -1.
int CartSizeIndexOfChunks(std::int32_t chunks);
// Dialog item of an item text ("8M".."256M"), or -1.
int CartSizeIndexOfItem(std::string_view item);

int ReadClick(OpsState& s);
// `cancelled` (optional) is set when the size dialog was cancelled or closed.
int BackupCart(OpsState& s, bool* cancelled = nullptr);
// 32, 64, 128, 256, 512 or 1024 chunks: the first probed chunk beyond the game.
int ProbeRomSize(OpsState& s);
bool ChunkIsEmpty(OpsState& s, std::int32_t chunk);

// Save memory (the transfer routines are in ops/saver.h).
int SReadClick(OpsState& s);
int SWriteClick(OpsState& s);

// Whole-flash erase.
int EraseFlashClick(OpsState& s);
int EraseAllFlash(OpsState& s);

// Several games behind boot loaders; mode 0 write, 1 verify. 0 when every
// item was written or verified; 254 when stopped; -1 otherwise.
int WriteMultiGames(OpsState& s, int mode);

}  // namespace rombolt
