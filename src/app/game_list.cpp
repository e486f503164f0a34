#include "app/game_list.h"

namespace rombolt {

int AddSelectedFiles(AppState&, const std::string&, const std::vector<std::string>&) { return 0; }
void BuildRowPath(AppState& s, int row) {
    const GameRow& r = s.GameList.at(row);
    s.CurrentFilePath = r.DirectoryPath;
    if (s.CurrentFilePath.empty() || s.CurrentFilePath.back() != '/') s.CurrentFilePath += '/';
    s.CurrentFilePath += r.Name;
}
void DeleteRows(AppState&, std::vector<int>) {}
void ClearList(AppState& s) { s.GameList.clear(); }
bool ClearAllClick(AppState&) { return false; }
void SortByColumn(AppState&, int) {}
int CompareRows(const AppState&, const GameRow&, const GameRow&) { return 0; }
std::optional<std::int32_t> ParseRowSize(const std::string&) { return std::nullopt; }
bool IsGbaClass(const std::string& t) { return t.empty() || t == "GBA" || t == "GBA#"; }
bool IsGbClass(const std::string& t) { return t == "GB" || t == "GBC" || t == "GB#" || t == "GBC#"; }
void UpdateListSize(AppState&) {}
std::string ListSizePanelText(const AppState&) { return {}; }
bool WriteListFile(const AppState&, const std::string&) { return false; }
int ReadListFile(AppState&, const std::string&) { return -1; }
void SaveFromListClick(AppState&) {}
void LoadToListClick(AppState&) {}
void AddToListClick(AppState&) {}

}  // namespace rombolt
