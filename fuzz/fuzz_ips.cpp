// IPS loading, parsing and application to every chunk of an image.
#include <cstring>

#include "app/app_state.h"
#include "fuzz_support.h"
#include "image/ips.h"

using namespace rombolt;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    fuzz::FreshState f;
    AppState& s = f.s;
    s.IpsFileName = fuzz::WriteScratchFile("patch.ips", data, size);
    if (LoadIpsPatch(s) != 0) return 0;
    // Apply to a 4-chunk image, twice (the second pass re-arms the table as the verify pass does).
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1 && ParseIpsRecords(s) != 0) __builtin_trap();  // parsed once already
        for (int c = 0; c < 4; ++c) {
            std::memset(s.ChunkBuffer.data(), c, kChunkBytes);
            ApplyIpsToChunk(s, c);
        }
    }
    return 0;
}
