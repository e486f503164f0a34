// Checksums of the data an operation moved: the bytes a write programs (or a
// verify compares) for an image are its whole 32 KiB chunks, the last one
// padded with 0xFF, with the header repaired and the IPS patch applied exactly
// as the write pipeline prepares them. A backup of the same range of the cart
// therefore has the same checksums.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli/digest.h"
#include "core/settings.h"

namespace rombolt::cli {

// size: the bytes of the file the pipeline takes (whole chunks are hashed).
// ipsFile: the patch the pipeline would be given (nullptr: none); it is used
// only when cfg.IpsApply is 1 and it loads, as in the pipeline.
std::optional<DigestText> PreparedImageDigest(const ConfigRecord& cfg, const std::string& path,
                                              std::int32_t size, const std::string* ipsFile,
                                              std::string& error);

// A built-in boot loader as the multi-game write programs it.
DigestText PreparedBuiltinLoaderDigest(const ConfigRecord& cfg, bool gba);

// The first maxBytes (all when negative) of a file, unchanged.
std::optional<DigestText> FileDigest(const std::string& path, long long maxBytes, std::string& error);

// Whether an IPS file loads as the pipeline would load it; if not, why.
bool IpsPatchUsable(const std::string& path, std::string& why);

}  // namespace rombolt::cli
