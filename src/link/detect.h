// Adapter detection: echo test in SPP and in EPP, and the choice of transfer mode.
#pragma once

#include "core/state.h"

namespace rombolt {

// 0 when the adapter echoed all six bytes in the current mode, 1 at the first mismatch.
int EchoTest(CoreState& s);
// 0 when a mode was chosen (SppMode set accordingly), 1 when neither works.
int DetectLink(CoreState& s);
// Entry point of every cart operation: 0 found, 1 not (logs "No Adaptor Found!").
int DetectAdapter(CoreState& s);

// Whether the adapter still answers, checked between blocks of a running
// operation: address registers 2, 1, 0 take two patterns and must read them
// back. An adapter that has been unplugged (or lost power) reads 0xFF, which
// is also what erased flash and empty save memory read, so a block that
// compared equal proves nothing until this passes. Only the address registers
// change (every transfer loads its own address); access mode, save bank and
// flash state are left as they are. Logs "No Adaptor Found!" when it fails.
// It fails too, without that line, when ReportPortFailure (core/operation.h)
// has something to say.
bool AdapterStillAnswers(CoreState& s);

}  // namespace rombolt
