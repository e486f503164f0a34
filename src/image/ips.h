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
// patch that writes past the end lengthens the image, as IPS tools do.
std::int64_t IpsPatchedSize(const ImageState& s, std::int64_t size);
// Completes chunk `chunk` of an image of `imageSize` bytes whose first
// `got` bytes are in ChunkBuffer: bytes the image gained from a patch past
// the file's end are 0x00 (what IPS tools put there), bytes past the image
// are 0xFF padding.
void FillChunkTail(ImageState& s, std::int32_t chunk, std::int32_t got, std::int64_t imageSize);

}  // namespace rombolt
