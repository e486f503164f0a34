// Save memory ("Saver"): the bank/size choice shared by the window and the
// command line, the size tables, and the unit and half access routines.
//
// Geometry: 4 banks of 64 KiB; a bank holds halves "A" and "B" of 32 KiB, a
// half holds quarters "1".."4" of 8 KiB. A unit is one 8 KiB quarter; unit u
// lies in bank u / 8 at byte offset (u % 8) * 8192.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/operation.h"
#include "ops/ops_state.h"

namespace rombolt {

inline constexpr int kSaveUnitBytes = 8192;
inline constexpr int kSaveUnits = 32;  // 256 KiB
inline constexpr int kSaveMaxBytes = kSaveUnits * kSaveUnitBytes;

struct SaverSize {
    const char* item;           // dialog item text
    int units;                  // 8 KiB units
    const char* backupMessage;  // logged after a good backup
    const char* cutMessage;     // logged when a longer file is cut to the selection
};
inline constexpr std::array<SaverSize, 5> kSaverSizes = {{
    {"8K", 1, "Backup Saver 8K Ok", "Fixed Saver Size(8K)"},
    {"32K", 4, "Backup Saver 32K Ok", "Fixed Saver Size(32K)"},
    {"64K", 8, "Backup Saver 64K Ok", "Fixed Saver Size(64K)"},
    {"128K", 16, "Backup Saver 128K Ok", "Fixed Saver Size(128K)"},
    {"256K", 32, "Backup Saver 256K Ok", "Fixed Saver Size(256K)"},
}};
// Size index of an item text ("8K".."256K"), or -1.
int SaverSizeIndex(const std::string& item);

// Bank choice of the dialog: start unit and the code shown beside "Saver".
struct BankCode {
    int startUnit;
    std::string code;
};
// b64 = bank 0..3, b32 = half 0..1 (A/B), b8 = quarter 0..3, sizeIndex 0..4.
// Start unit = b64 * 8 + b32 * 4 + b8; code "1A1".."4B4", shortened to "1B"
// for 32K at the first quarter, and to "3" for 64K and up at the bank's start.
BankCode UpdateBankSelection(int b64, int b32, int b8, int sizeIndex);
// Reads a bank code as typed on the command line: bank digit 1-4, optional
// half letter A/B, optional quarter digit 1-4 (a missing part is the first
// item). False for anything else or a size index outside 0..4. Whether the
// range fits the 256 KiB is checked later, by SelectSaver.
bool ParseBankCode(const std::string& code, int sizeIndex, int& startUnit);

// Access routines; each returns 0 or -1. A unit moves through the first 8 KiB
// of ChunkBuffer, a half through all of it.
int CompareSaveUnit(OpsState& s, int unit);
int ReadSaveUnit(OpsState& s, int unit);
int WriteSaveUnit(OpsState& s, int unit);
int CompareSaveHalf(OpsState& s, int half);
int ReadSaveHalf(OpsState& s, int half);

// -1 when no save memory answers; 1 when half B mirrors half A; 2 otherwise.
int ProbeSaveMemory(OpsState& s);

// The size of the save memory, told from its mirroring: a memory smaller than
// the 256 KiB window repeats inside it (a 64K memory read from 64K on gives
// its bytes again), so the smallest repeat of the whole window's contents is
// the memory's size. Reads only, each 32 KiB half twice. Sets
// s.FoundSaveSizeIndex to its result: the size index (0..4), kSaveSizeUnknown
// when the contents cannot tell (they repeat within less than 8 KiB, as a
// blank memory does), or kSaveSizeUnreadable when a half did not read the
// same twice. A memory whose own
// contents repeat looks smaller than it is: the found size is the least the
// memory can be.
inline constexpr int kSaveSizeUnknown = -1;
inline constexpr int kSaveSizeUnreadable = -2;
int FindSaveSize(OpsState& s);
// The same over bytes read from the 256 KiB window (kSaveMaxBytes of them):
// the size index, or kSaveSizeUnknown.
int SaveSizeFromMirroring(const std::uint8_t* window);
// Separator line, adapter, probe, dialog, range checks: 0 when a usable range
// is in s.Saver, -1 otherwise (reason logged).
int SelectSaver(OpsState& s);
// Transfer loops: 0, -1, or 254 when stopped. BackupSave begins `frame` once
// its output file is open; RestoreSave runs in a frame its caller began.
int BackupSave(OpsState& s, OperationFrame& frame);
int RestoreSave(OpsState& s, std::int32_t size);

}  // namespace rombolt
