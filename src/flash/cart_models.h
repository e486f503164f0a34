// The cart models, one record each: how identification tells them apart, the
// model line and picture the front ends show, the capacity, and the layout a
// multi-game cart of that model gets. Identification, the pictures, the
// multi-game layouts with their "Only for:" note and the command-line tool all
// read this table; the simulator (which sees only the port layer) keeps its
// own list of chips per model, and a test holds the two together.
#pragma once

#include <cstdint>
#include <span>

#include "flash/flash_state.h"

namespace rombolt {

// How a multi-game cart of a model is laid out (ops/layout.h): the plain or
// the Vela line layout, for a cart of Eighths x 8 MiB.
struct CartLayoutKind {
    bool Vela = false;
    int Eighths = 0;
};

struct CartModel {
    // Identification: one chip or an interleaved pair, the chips' CFI device
    // code (0x16, 0x17, 0x18), a second pair of chips at word 0x400000, and
    // whether the serial line test passes.
    bool Interleaved;
    std::uint8_t DeviceCode;
    bool TwoPairs;
    bool VelaLine;
    std::uint32_t CapacityBytes;
    const char* Name;  // in "Rombolt <Name> Found"
    int Picture;       // the window's cart picture, 1..kCartPictureCount
    CartLayoutKind Layout;
    // The name of this model's layout in the "Only for:" note and in
    // `rombolt layout`; empty on a model whose layout another one names.
    const char* LayoutName;
    // The simulated cart of this model (`rombolt sim create`, cart.ini).
    const char* SimName;
};

inline constexpr int kCartPictureCount = 6;

// Every model, in the order the layouts are listed.
std::span<const CartModel> CartModels();

// The model of an identified cart (CartInfo), or null when none matches.
const CartModel* FindCartModel(const CartInfo& cart);
// The model whose chips answer as given (VelaLine not yet known: false), or null.
const CartModel* FindCartChips(bool interleaved, std::uint8_t deviceCode, bool twoPairs);

}  // namespace rombolt
