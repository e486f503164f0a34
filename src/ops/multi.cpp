#include "ops/multi.h"

#include "app/operation.h"
#include "ops/commands.h"

namespace rombolt {

int WriteLoader(AppState&, int, std::int32_t) { return -1; }
int CountMapItems(const AppState&) { return 0; }

// Placeholder until the multi-game write lands.
void WriteMultiGames(AppState& s, int mode) {
    (void)mode;
    BeginLogSection(s);
    LogLine(s, "Multi-game write is not available in this build");
}

}  // namespace rombolt
