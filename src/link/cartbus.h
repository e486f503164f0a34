// Cart bus access: the adapter's register map (address registers 0-2, data
// window 3, access mode 4), cart word writes, the port's known states and the
// cartridge's unlock sequence.
#pragma once

#include <cstdint>

#include "core/state.h"

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
void SetCartAddress(CoreState& s, std::uint32_t address);
void WriteCartWord(CoreState& s, std::uint32_t address, std::uint16_t word);

void SetRomAccess(CoreState& s);
void SetSaveAccess(CoreState& s);
void SetSerialAccess(CoreState& s);

// Status register := 0x01 (clears a latched EPP time-out), then RomAccess.
void PrepareAdapter(CoreState& s);
// IdlePort (control register := 0x04) is the operation frame's, in core/state.h.

// The 1,508 cart writes that must precede a cartridge control command.
void CartUnlockSequence(CoreState& s);
// Unlock, then 0xF12345 := 0x9413. Leaves RomAccess set.
void OpenFlashAccess(CoreState& s);
// Save bank for a 32 KiB half index 0..7 (bank = b / 2); no port access at all
// for b outside 0..7. Leaves RomAccess set.
void SelectSaveBank(CoreState& s, std::int8_t b);

}  // namespace rombolt
