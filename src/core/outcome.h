// How a cart operation ended, and what the front ends need to know of it.
// The routines inside the layers keep their small result codes (0 done, -1
// failed, 254 stopped); the operations above them hand back an
// OperationResult, and the front ends decide from it, never from the log.
#pragma once

#include <cstdint>
#include <string>

namespace rombolt {

enum class OutcomeKind {
    Ok,         // the operation did its whole job
    Failed,     // it began its transfer and did not complete it
    Stopped,    // the user stopped it (Stop, Ctrl-C)
    Cancelled,  // the user answered a question or dialog with no
    Refused,    // it ended before its transfer began: the cart was not changed
};

// "ok", "failed", "stopped", "cancelled", "refused".
const char* OutcomeName(OutcomeKind kind);

// The record an operation fills as it goes (CoreState::Result) and hands back
// when it ends. Plain fields: a fact the front ends need is a field here.
struct OperationResult {
    OutcomeKind Kind = OutcomeKind::Refused;
    // The status panel's last text during the operation ("Write Error!!!").
    std::string Status;
    // The cart model identified and shown ("Rombolt Strata 16M"); empty when none.
    std::string CartModel;
    // Bytes of data moved to or from the cart (a write's programmed and
    // verified chunks count once), and 32 KiB chunks or 8 KiB save units
    // completed when the operation ended (before a stop or a failure too).
    long long BytesDone = 0;
    std::int32_t ChunksDone = 0;
    // An IPS patch was applied to the data sent; one was asked for and did
    // not load (the data went unpatched, or not at all).
    bool PatchApplied = false;
    bool PatchNotApplied = false;
    // Compare passes run over the cart (a write's read-back pass, a verify).
    int VerifyPasses = 0;
    // A port access failed during the operation ("Port error: " logged).
    bool PortFailed = false;

    bool Ok() const { return Kind == OutcomeKind::Ok; }
};

}  // namespace rombolt
