// IPS patches applied chunk by chunk on the way into the cart or a comparison.
#pragma once

#include <cstdint>

#include "app/app_state.h"

namespace rombolt {

int LoadIpsPatch(AppState& s);
int ParseIpsRecords(AppState& s);
void ApplyIpsToChunk(AppState& s, std::int32_t chunkIndex);
void ApplyIpsRecord(AppState& s, int index);

}  // namespace rombolt
