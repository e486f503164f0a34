// The game list model: rows made from image files, deletion, sorting, the
// size summary with its cart-model note, and list files. The widgets live in
// the front end; every routine here works on AppState::GameList.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "ops/game_rows.h"

namespace rombolt {

// Adds a row for each named file of `directory`, in order. Files under 512
// bytes are skipped; a path with a line break is skipped with a log line; a
// file that cannot be opened (or whose header cannot be read) ends the
// routine. Runs UpdateListSize. Returns the rows added.
int AddSelectedFiles(AppState& s, const std::string& directory, const std::vector<std::string>& names);

// Deletes the given rows (any order, duplicates ignored), last first; then UpdateListSize.
void DeleteRows(AppState& s, std::vector<int> rows);
// Deletes every row; then UpdateListSize.
void ClearList(AppState& s);
// "Do You want to Delete All Files?" (empty caption); on Yes ClearList. True when cleared.
bool ClearAllClick(AppState& s);

// Column header click: toggle rules, sort with CompareRows, UpdateListSize.
void SortByColumn(AppState& s, int column);
// Negative, zero or positive by s.SortColumn and s.SortDescending.
int CompareRows(const AppState& s, const GameRow& a, const GameRow& b);

// Recomputes the list summary, s.FitNote and status panel 4.
void UpdateListSize(AppState& s);
// "[2]Total Size = 64.25Mb" or "[100] over 99 files!!!]".
std::string ListSizePanelText(const AppState& s);

// List files: six CR LF lines per row (lines ended by LF or CR alone are read
// too; a trailing incomplete group is ignored). WriteListFile returns false
// when the file cannot be written. ReadListFile replaces (Load List) or
// extends (Add List) the rows and returns how many it appended, or -1 when the
// file cannot be read, kListFileTooLarge when it is over 16 MiB (the rows are
// then left alone); a row whose "Size" is not a decimal byte count, that would
// take no chunk in the cart, or whose "GType" is of neither class is refused
// with a log line naming it and counted in `refused` (when given). The caller
// runs UpdateListSize.
inline constexpr int kListFileTooLarge = -2;
bool WriteListFile(const AppState& s, const std::string& path);
int ReadListFile(AppState& s, const std::string& path, bool replace, int* refused = nullptr);

// Menu commands: run the file dialog, then the file routine, log the result.
void SaveFromListClick(AppState& s);
void LoadToListClick(AppState& s);
void AddToListClick(AppState& s);

}  // namespace rombolt
