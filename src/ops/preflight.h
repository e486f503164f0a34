// Before a multi-game write changes the cart: every file the planned chunk
// map will open is opened, sized and read here, so a typo in the list or a
// file that changed since it was listed is found with the cart untouched.
#pragma once

#include "ops/ops_state.h"

namespace rombolt {

// Checks the loader files and each game of s.ChunkMap (laid out already):
// a loader file that opens must be a loader's size; a game file must open as
// a plain file, be as long as its row's "Size" and give its first chunk; a
// row whose last chunk is cut as padding must still end in 32 KiB of 0x00 or
// 0xFF. On the first that fails, logs the error line with the file and the
// reason in brackets and returns false; the current file is closed.
bool MultiGameFilesUsable(OpsState& s);

}  // namespace rombolt
