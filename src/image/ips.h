// IPS patches applied chunk by chunk on the way into the cart or a comparison.
#pragma once

#include <cstdint>
#include <string>

#include "image/image_state.h"

namespace rombolt {

// 0 when the patch file (IpsFileName) is loaded and parsed; -1 otherwise,
// with the reason in `why` when given.
int LoadIpsPatch(ImageState& s, std::string* why = nullptr);
int ParseIpsRecords(ImageState& s);
void ApplyIpsToChunk(ImageState& s, std::int32_t chunkIndex);
void ApplyIpsRecord(ImageState& s, int index);

// Length of an image of `size` bytes with the loaded records applied: a
// patch that writes past the end lengthens the image, as IPS tools do (the
// bytes it does not write there are 0xFF, like the padding of a last chunk).
std::int64_t IpsPatchedSize(const ImageState& s, std::int64_t size);
}  // namespace rombolt
