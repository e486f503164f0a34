// Checksums of files as they are (a backup, a save file), and whether a patch
// file loads. The sums of a write, verify or save restore are taken of the
// data as they go to the cart (SentDataSink), not here.
#pragma once

#include <optional>
#include <string>

#include "cli/digest.h"
#include "core/settings.h"

namespace rombolt::cli {

// The first maxBytes (all when negative) of a file, unchanged.
std::optional<DigestText> FileDigest(const std::string& path, long long maxBytes, std::string& error);

// Whether an IPS file loads as the pipeline would load it; if not, why.
bool IpsPatchUsable(const std::string& path, std::string& why);

}  // namespace rombolt::cli
