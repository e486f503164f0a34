// The header check in every mode, with and without repair, on any first chunk.
#include <cstring>

#include "app/app_state.h"
#include "fuzz_support.h"
#include "image/header.h"

using namespace rombolt;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    fuzz::FreshState f;
    AppState& s = f.s;
    static std::uint8_t original[kChunkBytes];
    const size_t n = size < static_cast<size_t>(kChunkBytes) ? size : kChunkBytes;
    std::memset(original, 0xFF, sizeof original);
    std::memcpy(original, data, n);
    for (int fix = 0; fix <= 1; ++fix) {
        for (HeaderCheck mode :
             {HeaderCheck::Quiet, HeaderCheck::Logged, HeaderCheck::Repair, HeaderCheck::RepairLogged}) {
            s.Config.FixRom = static_cast<std::uint8_t>(fix);
            std::memcpy(s.ChunkBuffer.data(), original, kChunkBytes);
            const int r = CheckCartHeader(s, mode);
            if (r != 0 && r != 2 && r != -1) __builtin_trap();
            if (s.GameNameText.size() > 16) __builtin_trap();
            const bool changed = std::memcmp(s.ChunkBuffer.data(), original, kChunkBytes) != 0;
            if (changed && (mode == HeaderCheck::Quiet || !fix)) __builtin_trap();  // no repair allowed there
            // A repaired header checks clean.
            if (changed && r == 0 && CheckCartHeader(s, HeaderCheck::Quiet) != 0) __builtin_trap();
        }
    }
    return 0;
}
