// Erasing the whole flash of the cartridge after the user confirms.
#include "core/operation.h"
#include "flash/flash.h"
#include "flash/identify.h"
#include "link/detect.h"
#include "ops/commands.h"

namespace rombolt {

namespace {

// One erase block: 128 KiB on a single chip; on an interleaved pair each chip
// erases its 128 KiB block at once, which covers 256 KiB of the cart.
constexpr std::uint32_t kSingleBlockBytes = 131072;
constexpr std::uint32_t kPairBlockBytes = 262144;

}  // namespace

int EraseAllFlash(OpsState& s, OperationFrame& frame) {
    const std::uint32_t blockBytes = s.Cart.Interleaved ? kPairBlockBytes : kSingleBlockBytes;
    const std::uint32_t blockWords = blockBytes / 2;
    const std::int32_t blocks = static_cast<std::int32_t>(s.Cart.CapacityBytes / blockBytes);

    frame.Begin();
    SetStatusText(s, "Erasing...");
    if (blocks <= 0) return -1;  // no known capacity: nothing was erased
    for (std::int32_t b = 0; b < blocks; ++b) {
        if (BlockStopTest(s)) return kStopResult;
        s.ProgressPercent = PercentOf(b, blocks);
        ShowProgress(s);
        ProcessMessages(s);
        if (EraseFlashBlock(s, static_cast<std::uint32_t>(b) * blockWords) != 0) return -1;
        // A floating status line reads "ready", and so does a port whose
        // device calls fail: an adapter that went away during the erase would
        // pass for a finished one (the check names a failed port call first).
        if (!AdapterStillAnswers(s)) return -1;
        s.Result.BytesDone += blockBytes;
    }
    return 0;
}

OperationResult EraseFlashClick(OpsState& s) {
    OperationFrame frame(s);
    BeginLogSection(s);
    if (FindFlashCart(s) != 0) return frame.Finish();
    WaitFlashReady(s);
    if (!s.UI->AskYesNo("Do You want to Erase Flash Data?", "Erase Flash")) {
        LogLine(s, "Erase Flash Cancel");
        frame.Cancel();
        return frame.Finish();
    }
    if (frame.Conclude(EraseAllFlash(s, frame))) {
        SetStatusText(s, "Erase ok");
        LogLine(s, "Cart Erase Ok");
        s.ProgressPercent = 100;
    } else {
        SetStatusText(s, "Erase Error!!!");
        LogLine(s, "Cart Erase Error!!!");
    }
    ShowProgress(s);
    frame.End();
    ProcessMessages(s);
    return frame.Finish();
}

}  // namespace rombolt
