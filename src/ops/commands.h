// The command bodies behind the main window's buttons. The window and the
// command-line tool both call these; they talk to the user only through
// the state's UI. Each runs inside one OperationFrame (core/operation.h) and
// returns its record: how it ended (OperationResult::Kind) and what it did.
// The routines they are made of keep their codes: 0 done, -1 failed, 254
// (kStopResult) stopped.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "core/operation.h"
#include "ops/ops_state.h"

namespace rombolt {

// ROM write and verify of one image (row 0 of the game list); hand over to the
// multi-game path when the list has more than one row or any GB-class row.
OperationResult WriteClick(OpsState& s);
OperationResult VerifyClick(OpsState& s);

// Whether the image pipeline offers the IPS file dialog ("IPS Apply" on):
// games do, loaders do not.
enum class IpsOffer : std::uint8_t { No = 0, Yes = 1 };
// One image through the pipeline from cart chunk startChunk: 0, -1, or 254.
// With s.PatchRequired a patch that does not load fails it before any chunk.
int WriteImage(OpsState& s, std::int32_t size, std::int32_t startChunk, IpsOffer ips);
int VerifyImage(OpsState& s, std::int32_t size, std::int32_t startChunk, IpsOffer ips);

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

OperationResult ReadClick(OpsState& s);
// The backup's transfer in frame `frame` (which it begins): 0, -1 or 254.
// `cancelled` (optional) is set when the size dialog was cancelled or closed.
int BackupCart(OpsState& s, OperationFrame& frame, bool* cancelled = nullptr);
// 32, 64, 128, 256, 512 or 1024 chunks: the first probed chunk beyond the game.
int ProbeRomSize(OpsState& s);
bool ChunkIsEmpty(OpsState& s, std::int32_t chunk);

// Save memory (the transfer routines are in ops/saver.h).
OperationResult SReadClick(OpsState& s);
OperationResult SWriteClick(OpsState& s);

// Whole-flash erase. EraseAllFlash begins `frame`: 0, -1, or 254 when stopped.
OperationResult EraseFlashClick(OpsState& s);
int EraseAllFlash(OpsState& s, OperationFrame& frame);

// Several games behind boot loaders: written, or verified.
enum class MultiMode { Write = 0, Verify = 1 };
OperationResult WriteMultiGames(OpsState& s, MultiMode mode);

}  // namespace rombolt
