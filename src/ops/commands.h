// The command bodies behind the main window's buttons. The window and the
// command-line tool both call these; they talk to the user only through
// AppState::UI.
#pragma once

#include <cstdint>

#include "app/app_state.h"

namespace rombolt {

// ROM write and verify of one image (row 0 of the game list); hand over to the
// multi-game path when the list has more than one row or any GB-class row.
void WriteClick(AppState& s);
void VerifyClick(AppState& s);
int WriteImage(AppState& s, std::int32_t size, std::int32_t startChunk, std::uint8_t allowIps);
int VerifyImage(AppState& s, std::int32_t size, std::int32_t startChunk, std::uint8_t allowIps);

// ROM backup.
void ReadClick(AppState& s);
int BackupCart(AppState& s);
int ProbeRomSize(AppState& s);
bool ChunkIsEmpty(AppState& s, std::int32_t chunk);

// Save memory.
void SReadClick(AppState& s);
void SWriteClick(AppState& s);

// Whole-flash erase.
void EraseFlashClick(AppState& s);
int EraseAllFlash(AppState& s);

// Several games behind boot loaders; mode 0 write, 1 verify.
void WriteMultiGames(AppState& s, int mode);

}  // namespace rombolt
