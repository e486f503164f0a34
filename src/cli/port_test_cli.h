// `rombolt port-test`: opens the chosen port (or the simulated cart) and
// prints the port test's checks, one line each, then what to do.
#pragma once

#include "cli/options.h"

namespace rombolt::cli {

// Exit status: 0 when everything a write needs works, 1 otherwise.
int RunPortTest(const Options& o);

}  // namespace rombolt::cli
