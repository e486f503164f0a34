// List files of any content, then the size summary and every cart layout.
#include "app/game_list.h"
#include "fuzz_support.h"
#include "ops/layout.h"

using namespace rombolt;

namespace {
// Every placed chunk lies before the end mark and belongs to a row that
// exists, and every row gets all its chunks: none is counted and left out.
void CheckMap(const AppState& s) {
    bool ended = false;
    int placed[100] = {};
    for (int c = 0; c < 1024; ++c) {
        const std::uint8_t v = s.ChunkMap[c];
        if (v == ChunkEnd) ended = true;
        if (ended && v != ChunkEnd && v != ChunkFree) __builtin_trap();
        if (v < 100 && v >= s.ListRowCount) __builtin_trap();
        if (v < 100) ++placed[v];
    }
    for (int i = 0; i < s.ListRowCount && i < 100; ++i)
        if (placed[i] == 0 || placed[i] != s.RowSizes[i] / kChunkBytes) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size > 200000) return 0;
    fuzz::FreshState f;
    AppState& s = f.s;
    const std::string path = fuzz::WriteScratchFile("list.txt", data, size);
    if (ReadListFile(s, path, true) < 0) return 0;
    UpdateListSize(s);
    for (int a : {1, 2, 4}) {
        if (LayoutPlainCart(s, a) == 0) CheckMap(s);
        if (LayoutVelaCart(s, a) == 0) CheckMap(s);
    }
    return 0;
}
