// Planning a cart of several games: the chunk map (one entry per 32 KiB
// chunk) filled from the list summary, with boot loaders where the console
// expects them.
#pragma once

#include <cstdint>
#include <vector>

#include "flash/cart_models.h"
#include "ops/ops_state.h"

namespace rombolt {

inline constexpr int kMapChunks = 1024;

// Layout results besides 0 (fits) and -1 (too large / too many rows).
inline constexpr int kLayoutTooManyGba = 254;
inline constexpr int kLayoutNoPlace = 253;

// Consecutive ChunkFree entries from chunk c on, never past chunk 1023.
int FreeRunLength(const OpsState& s, int c);
// The item at chunk c when the free run there holds size bytes: 0, else 254.
int PlaceAt(OpsState& s, int row, std::int32_t size, int c);
// First free run that holds the item: 0; -1 on reaching ChunkEnd; 254 past chunk 1023.
int PlaceFirstFit(OpsState& s, int row, std::int32_t size);
// Carts outside the Vela line; a = capacity / 8 MiB (1, else handled as 16 MiB).
int LayoutPlainCart(OpsState& s, int a);
// Vela line carts; a = capacity / 8 MiB (1, 2 or 4).
int LayoutVelaCart(OpsState& s, int a);
// The layout of a cart model (flash/cart_models.h): one of the two above.
int LayoutCart(OpsState& s, CartLayoutKind kind);
// The layout of the identified cart: Vela line or plain, for its capacity.
CartLayoutKind LayoutKindOf(const CartInfo& cart);

// One item of a laid-out cart, in the order a multi-game write sends them:
// a loader (ChunkGbaLoader or ChunkGbLoader) at each of its chunks, a game
// row at the first chunk of each run of it. Free chunks are no item.
struct MapItem {
    int chunk;
    std::uint8_t value;  // the row, or a loader mark
    bool IsLoader() const { return value == ChunkGbaLoader || value == ChunkGbLoader; }
};
std::vector<MapItem> MapItems(const OpsState& s);

}  // namespace rombolt
