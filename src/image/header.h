// Cartridge header check and repair (GBA logo, fixed byte, complement; GB logo).
#pragma once

#include <array>
#include <cstdint>

#include "app/app_state.h"

namespace rombolt {

extern const std::array<std::uint8_t, 156> kGbaLogo;  // image bytes 0x04..0x9F
extern const std::array<std::uint8_t, 48> kGbLogo;    // image bytes 0x104..0x133

// Works on ChunkBuffer in place. 2 = GB image; 0 = valid GBA header (possibly
// repaired); -1 = GBA header wrong and not repaired.
int CheckCartHeader(AppState& s, int mode);

}  // namespace rombolt
