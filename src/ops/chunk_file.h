// The current file and the routines that move it through ChunkBuffer.
#pragma once

#include <cstdint>

#include "ops/ops_state.h"

namespace rombolt {

// Opens CurrentFilePath "rb" as the current file; logs "File Open Error!!!" and returns -1 on failure.
int OpenImageForRead(OpsState& s);
// Runs SaveDialog1 for a backup: on cancel logs cancelText and returns false;
// otherwise stores the name in SaveDialogFile, resets the progress display and
// logs "FileName = " with the name.
bool ChooseBackupFile(OpsState& s, const char* cancelText);
// Opens SaveDialogFile "w+b" as the current file; logs "File Open Error!!!" and returns -1 on failure.
// An existing plain file is not touched until the output is complete, so a
// backup that fails or is stopped never costs the user an older backup. The
// data go to a side file in the folder of the file (the file a link names):
// "NAME.XXXXXX", with NAME shortened where that would be too long a name.
// FinishOutputFile renames it over the file; that gives the chosen name the
// new backup and leaves any other hard link to the old file its old data.
// Where no side file can be made in that folder (a folder the user may not
// write), the side file goes to the temporary folder ($TMPDIR or /tmp) and is
// copied over the file once complete. A new file, or a device, is written in
// place.
int OpenOutputFile(OpsState& s);
// Closes a complete output file and puts it in place; false, with
// "Write ErrNo=" and the reason logged, when that fails.
bool FinishOutputFile(OpsState& s);
// Closes an output file that did not get all its data: a file that existed
// under its name keeps its old contents; a new one keeps what was written.
void AbandonOutputFile(OpsState& s);
// Reads exactly n bytes to the start of ChunkBuffer; logs "Read ErrNo=..." on failure.
bool ReadChunk(OpsState& s, std::int32_t n);
// The next block of an input file, i of count: the window's turn and the stop
// test, the progress, then ReadChunk of n bytes. 0 to go on; 254 (stopped)
// or -1 (read failed) with the file closed.
int NextFileBlock(OpsState& s, std::int32_t i, std::int32_t count, std::int32_t n);
// Writes the first n bytes of ChunkBuffer; logs "Write ErrNo=..." on failure.
bool WriteChunk(OpsState& s, std::int32_t n);
// ChunkBuffer bytes k..32767 := 0xFF.
void PadChunk(OpsState& s, std::int32_t k);
// Closes the current file if one is open (an output file is put in place as
// by FinishOutputFile, silently).
void CloseCurrentFile(OpsState& s);
// Length of the open current file, or -1.
long long CurrentFileLength(OpsState& s);
// Whether the open current file is exactly `listed` bytes long, as the game
// list's "Size" says. Otherwise logs "FileSize = " with the real length and
// "File Size Error!!!" and returns false (the file stays open).
bool CurrentFileHasListedSize(OpsState& s, long long listed);

}  // namespace rombolt
