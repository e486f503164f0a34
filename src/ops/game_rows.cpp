#include "ops/game_rows.h"

#include "ops/ops_state.h"

namespace rombolt {

std::string JoinPath(const std::string& directory, const std::string& name) {
    std::string p = directory;
    if (p.empty() || p.back() != '/') p += '/';
    return p + name;
}

void BuildRowPath(OpsState& s, int row) {
    const GameRow& r = s.GameList.at(static_cast<std::size_t>(row));
    s.CurrentFilePath = JoinPath(r.DirectoryPath, r.Name);
}

std::optional<std::int32_t> ParseRowSize(const std::string& text) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    std::int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    if (v > 0x7FFFFFFF) return std::nullopt;
    return static_cast<std::int32_t>(v);
}

bool IsGbaClass(const std::string& t) { return t.empty() || t == "GBA" || t == "GBA#"; }
bool IsGbClass(const std::string& t) { return t == "GB" || t == "GBC" || t == "GB#" || t == "GBC#"; }

}  // namespace rombolt
