// Image preparation's state: the title found by the header check and the
// loaded IPS patch.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "flash/flash_state.h"

namespace rombolt {

// Patch table entry of a loaded IPS file.
struct IpsRecord {
    std::uint32_t TargetOffset = 0;  // low 24 bits used
    std::uint16_t RemainingLength = 0;
    std::uint16_t DataPosition = 0;
};

struct ImageState : FlashState {
    std::string GameNameText;     // filled by the header check
    bool HeaderRepaired = false;  // the last header check changed ChunkBuffer ("Fix Data")
    std::string IpsFileName;
    std::array<std::uint8_t, kChunkBytes> PatchBuffer{};
    std::uint32_t PatchLength = 0;
    std::uint16_t RecordCount = 0;
    std::array<IpsRecord, 1024> IpsRecords{};
    std::uint8_t IpsActive = 0;

protected:
    ~ImageState() = default;
};

}  // namespace rombolt
