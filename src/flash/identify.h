// Flash identification: CFI query, single chip or interleaved pair, capacity,
// the Vela line test, and the cart model line and picture.
#pragma once

#include <string>

#include "flash/flash_state.h"

namespace rombolt {

// 0 when a known flash was found (CartInfo filled, model logged and shown);
// -1 when not (picture hidden, nothing logged). With showModel false only
// CartInfo is filled: nothing is logged or shown.
int IdentifyFlash(FlashState& s, bool showModel = true);
int CheckVelaLine(FlashState& s, bool showModel = true);
// Picture and "Rombolt ... Found" line of the identified cart; the name also
// goes to the operation's record (Result.CartModel).
int ShowCartModel(FlashState& s);
// The preamble of the operations that change the flash: adapter detection,
// then identification with the model shown, or "Flash not found!!!". 0 when
// a known flash answers, -1 otherwise.
int FindFlashCart(FlashState& s);
// "Rombolt 8M", "Rombolt Strata 16M", "Rombolt Vela 32M".
std::string CartModelName(const CartInfo& c);
void HideCartPicture(FlashState& s);
void LoadCartPicture(FlashState& s, int number);

}  // namespace rombolt
