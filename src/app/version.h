// The product and version both programs print for --version.
#pragma once

#include "rombolt_version.h"  // generated at build time

namespace rombolt {

// "Rombolt Writer 3.2", followed by " (commit <git describe>)" when the
// program was built from a git checkout.
inline const char* ProductVersionText() {
    return ROMBOLT_COMMIT[0] != '\0' ? "Rombolt Writer " ROMBOLT_VERSION " (commit " ROMBOLT_COMMIT ")"
                                     : "Rombolt Writer " ROMBOLT_VERSION;
}

}  // namespace rombolt
