// The current file and the routines that move it through ChunkBuffer.
#pragma once

#include <cstdint>

#include "app/app_state.h"

namespace rombolt {

// Opens CurrentFilePath "rb" as the current file; logs "File Open Error!!!" and returns -1 on failure.
int OpenImageForRead(AppState& s);
// Opens SaveDialogFile "w+b" as the current file; logs "File Open Error!!!" and returns -1 on failure.
int OpenOutputFile(AppState& s);
// Reads exactly n bytes to the start of ChunkBuffer; logs "Read ErrNo=..." on failure.
bool ReadChunk(AppState& s, std::int32_t n);
// Writes the first n bytes of ChunkBuffer; logs "Write ErrNo=..." on failure.
bool WriteChunk(AppState& s, std::int32_t n);
// ChunkBuffer bytes k..32767 := 0xFF.
void PadChunk(AppState& s, std::int32_t k);
// Closes the current file if one is open.
void CloseCurrentFile(AppState& s);
// Length of the open current file, or -1.
long long CurrentFileLength(AppState& s);

}  // namespace rombolt
