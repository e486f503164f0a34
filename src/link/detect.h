// Adapter detection: echo test in SPP and in EPP, and the choice of transfer mode.
#pragma once

#include "app/app_state.h"

namespace rombolt {

// 0 when the adapter echoed all six bytes in the current mode, 1 at the first mismatch.
int EchoTest(AppState& s);
// 0 when a mode was chosen (SppMode set accordingly), 1 when neither works.
int DetectLink(AppState& s);
// Entry point of every cart operation: 0 found, 1 not (logs "No Adaptor Found!").
int DetectAdapter(AppState& s);

}  // namespace rombolt
