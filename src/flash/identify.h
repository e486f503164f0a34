// Flash identification: CFI query, single chip or interleaved pair, capacity,
// the Vela line test, and the cart model line and picture.
#pragma once

#include "app/app_state.h"

namespace rombolt {

// 0 when a known flash was found (CartInfo filled, model logged and shown);
// -1 when not (picture hidden, nothing logged).
int IdentifyFlash(AppState& s);
int CheckVelaLine(AppState& s);
int ShowCartModel(AppState& s);
void HideCartPicture(AppState& s);
void LoadCartPicture(AppState& s, int number);

}  // namespace rombolt
