#include "ops/layout.h"

#include <algorithm>

namespace rombolt {

namespace {

int ChunksOf(std::int32_t size) { return size / kChunkBytes; }

// First chunk at or past which nothing may be placed: the ChunkEnd entry, or
// the end of the map.
int UsableEnd(const OpsState& s) {
    for (int c = 0; c < kMapChunks; ++c)
        if (s.ChunkMap[c] == ChunkEnd) return c;
    return kMapChunks;
}

void Fill(OpsState& s, int c, int n, int row) {
    for (int i = 0; i < n; ++i) s.ChunkMap[c + i] = static_cast<std::uint8_t>(row);
}

// Whether every counted row can get a place: a row outside the GBA and GB
// classes, or one that takes no chunk, would be counted and never written.
bool EveryRowPlaceable(const OpsState& s) {
    const int counted = std::min(s.ListRowCount, 100);
    if (s.GbaRowCount + s.GbRowCount != counted) return false;
    for (int i = 0; i < counted; ++i)
        if (s.RowSizes[i] < kChunkBytes) return false;
    return true;
}

}  // namespace

int FreeRunLength(const OpsState& s, int c) {
    if (c < 0) return 0;
    int k = 0;
    while (c + k < kMapChunks && s.ChunkMap[c + k] == ChunkFree) ++k;
    return k;
}

int PlaceAt(OpsState& s, int row, std::int32_t size, int c) {
    int n = ChunksOf(size);
    // A start at or past the end marker would put the game beyond the cart's
    // capacity even though the map has free entries there.
    if (c < 0 || (n > 0 && c >= UsableEnd(s))) return kLayoutTooManyGba;
    if (FreeRunLength(s, c) < n) return kLayoutTooManyGba;
    Fill(s, c, n, row);
    return 0;
}

int PlaceFirstFit(OpsState& s, int row, std::int32_t size) {
    int n = ChunksOf(size);
    for (int c = 0; c < kMapChunks; ++c) {
        if (s.ChunkMap[c] == ChunkEnd) return -1;
        if (s.ChunkMap[c] == ChunkFree && FreeRunLength(s, c) >= n) {
            Fill(s, c, n, row);
            return 0;
        }
    }
    return kLayoutTooManyGba;
}

int LayoutPlainCart(OpsState& s, int a) {
    if (s.ListRowCount > 99) return -1;
    s.ChunkMap.fill(ChunkFree);
    if (!EveryRowPlaceable(s)) return kLayoutNoPlace;
    if (a == 1) {
        s.ChunkMap[256] = ChunkEnd;
        if (s.ListTotalSize > 0x800000u) return -1;
        if (s.GbaRowCount > 2) return kLayoutTooManyGba;
        if (s.GbRowCount > 0) s.ChunkMap[255] = ChunkGbLoader;
    } else {
        s.ChunkMap[512] = ChunkEnd;
        if (s.ListTotalSize > 0x1000000u) return -1;
        if (s.GbaRowCount > 4) return kLayoutTooManyGba;
        if (s.GbRowCount > 0) s.ChunkMap[511] = ChunkGbLoader;
    }

    int e = 0;
    int m = 0;
    if (s.GbaRowCount > 0) {
        std::int32_t smallest = s.RowSizes[s.GbaRows[0]];
        if (s.GbaRowCount >= 2) {
            s.ChunkMap[0] = ChunkGbaLoader;
            e = 1;
            for (int j = 0; j < s.GbaRowCount; ++j) {
                if (s.RowSizes[s.GbaRows[j]] < smallest) {
                    smallest = s.RowSizes[s.GbaRows[j]];
                    m = j;
                }
            }
        }
        // Every game but the smallest starts on a 4 MiB step; the smallest goes last.
        for (int j = 0; j < s.GbaRowCount; ++j) {
            if (j == m) continue;
            int row = s.GbaRows[j];
            if (PlaceAt(s, row, s.RowSizes[row], e) != 0) return kLayoutNoPlace;
            int k = ChunksOf(s.RowSizes[row]);
            e += (k + 127) / 128 * 128;
        }
        int row = s.GbaRows[m];
        if (PlaceAt(s, row, s.RowSizes[row], e) != 0) return kLayoutNoPlace;
    }

    for (int j = 0; j < s.GbRowCount; ++j) {
        int row = s.GbRows[j];
        if (PlaceFirstFit(s, row, s.RowSizes[row]) != 0) return kLayoutNoPlace;
    }
    return 0;
}

int LayoutVelaCart(OpsState& s, int a) {
    if (static_cast<std::uint64_t>(std::max(a, 0)) * 0x800000u < s.ListTotalSize) return -1;
    if (s.ListRowCount > 99) return -1;
    s.ChunkMap.fill(ChunkFree);
    if (!EveryRowPlaceable(s)) return kLayoutNoPlace;
    if (a >= 1 && a < 4) s.ChunkMap[256 * a] = ChunkEnd;
    if (s.GbRowCount > 0) s.ChunkMap[a == 1 ? 255 : 511] = ChunkGbLoader;
    if (s.GbaRowCount >= 2) s.ChunkMap[0] = ChunkGbaLoader;
    for (int i = 0; i < s.ListRowCount; ++i)
        if (PlaceFirstFit(s, i, s.RowSizes[i]) != 0) return kLayoutNoPlace;
    return 0;
}

int LayoutCart(OpsState& s, CartLayoutKind kind) {
    return kind.Vela ? LayoutVelaCart(s, kind.Eighths) : LayoutPlainCart(s, kind.Eighths);
}

CartLayoutKind LayoutKindOf(const CartInfo& cart) {
    if (const CartModel* m = FindCartModel(cart)) return m->Layout;
    return {cart.VelaLine != 0, static_cast<int>(cart.CapacityBytes >> 23)};
}

std::vector<MapItem> MapItems(const OpsState& s) {
    std::vector<MapItem> items;
    std::uint8_t last = ChunkFree;
    for (int c = 0; c < kMapChunks; ++c) {
        const std::uint8_t v = s.ChunkMap[c];
        if (v == ChunkEnd) break;
        if (v == ChunkGbaLoader || v == ChunkGbLoader) {
            items.push_back({c, v});
            continue;
        }
        if (v == last) continue;
        last = v;
        if (v != ChunkFree) items.push_back({c, v});
    }
    return items;
}

}  // namespace rombolt
