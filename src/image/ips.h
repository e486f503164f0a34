// IPS patches applied chunk by chunk on the way into the cart or a comparison.
#pragma once

#include <cstdint>

#include "image/image_state.h"

namespace rombolt {

int LoadIpsPatch(ImageState& s);
int ParseIpsRecords(ImageState& s);
void ApplyIpsToChunk(ImageState& s, std::int32_t chunkIndex);
void ApplyIpsRecord(ImageState& s, int index);

}  // namespace rombolt
