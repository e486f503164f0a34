// The game list's rows as the cart operations see them: five text columns, the
// path rule that joins a row's directory and name, the size column as a byte
// count and the row classes by GType. Adding, deleting, sorting and list files
// are the application's (app/game_list.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace rombolt {

struct OpsState;

// One row of the game list: five text columns.
struct GameRow {
    std::string Name;           // "Name": file name without directory
    std::string DirectoryPath;  // "Directory Path"
    std::string Size;           // "Size": decimal byte count
    std::string GameName;       // "Game Name"
    std::string GType;          // "GType": "GBA", "GBC", "GB", with "#" when padded; or empty
};

// directory, "/" unless it ends in one, name.
std::string JoinPath(const std::string& directory, const std::string& name);
// s.CurrentFilePath := row's directory, "/" unless it ends in one, name.
void BuildRowPath(OpsState& s, int row);

// A "Size" text as a byte count: only plain decimal digits (0..2147483647).
std::optional<std::int32_t> ParseRowSize(const std::string& text);

// Row classes by GType.
bool IsGbaClass(const std::string& gtype);
bool IsGbClass(const std::string& gtype);

}  // namespace rombolt
