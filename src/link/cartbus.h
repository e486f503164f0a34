// Cart bus access: the adapter's register map (address registers 0-2, data
// window 3, access mode 4), cart word writes, the port's known states and the
// cartridge's unlock sequence.
#pragma once

#include <cstdint>

#include "app/app_state.h"

namespace rombolt {

inline constexpr std::uint8_t kRegAddr0 = 0;  // cart address bits 0-7
inline constexpr std::uint8_t kRegAddr1 = 1;  // bits 8-15
inline constexpr std::uint8_t kRegAddr2 = 2;  // bits 16-23
inline constexpr std::uint8_t kRegData = 3;   // data window, address advances per transfer
inline constexpr std::uint8_t kRegMode = 4;   // AccessMode

// AccessMode values (EPP form; the SPP form has bit 6 set).
inline constexpr std::uint8_t kRomAccess = 0x07;
inline constexpr std::uint8_t kSaveAccess = 0x83;
inline constexpr std::uint8_t kSerialAccess = 0x03;
inline constexpr std::uint8_t kSppModeBit = 0x40;

inline constexpr std::uint32_t kFlashAccessAddr = 0xF12345;
inline constexpr std::uint16_t kFlashAccessWord = 0x9413;
inline constexpr std::uint32_t kSaveBankAddr = 0xA12345;

// Registers 2, 1, 0 in that order; bits 24 and up are ignored.
void SetCartAddress(AppState& s, std::uint32_t address);
void WriteCartWord(AppState& s, std::uint32_t address, std::uint16_t word);

void SetRomAccess(AppState& s);
void SetSaveAccess(AppState& s);
void SetSerialAccess(AppState& s);

// Status register := 0x01 (clears a latched EPP time-out), then RomAccess.
void PrepareAdapter(AppState& s);
// Control register := 0x04.
void IdlePort(AppState& s);

// The 1,508 cart writes that must precede a cartridge control command.
void CartUnlockSequence(AppState& s);
// Unlock, then 0xF12345 := 0x9413. Leaves RomAccess set.
void OpenFlashAccess(AppState& s);
// Save bank for a 32 KiB half index 0..7 (bank = b / 2); no port access at all
// for b outside 0..7. Leaves RomAccess set.
void SelectSaveBank(AppState& s, std::int8_t b);

}  // namespace rombolt
