#include "app/operation.h"
#include "ops/commands.h"

namespace rombolt {

// Placeholder until the multi-game write lands.
void WriteMultiGames(AppState& s, int mode) {
    (void)mode;
    BeginLogSection(s);
    LogLine(s, "Multi-game write is not available in this build");
}

}  // namespace rombolt
