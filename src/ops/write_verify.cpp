// Writing one game image into the flash and comparing the flash with an image
// file, 32 KiB chunk by chunk, with header repair and IPS patching on the way.
#include <optional>
#include <string>

#include "core/operation.h"
#include "flash/flash.h"
#include "flash/identify.h"
#include "image/header.h"
#include "image/ips.h"
#include "link/detect.h"
#include "ops/chunk_file.h"
#include "ops/commands.h"
#include "ops/game_rows.h"
#include "ops/skip_unchanged.h"

namespace rombolt {

namespace {

std::int32_t ChunkCount(std::int32_t size) { return (size >> 15) + ((size & 0x7FFF) != 0 ? 1 : 0); }

// Offers the IPS file dialog when the option is on and the caller allows it.
// The patch is used only when it loads; a cancelled dialog or a bad patch
// leaves the image unpatched, and a bad patch says so in the log. False when
// a patch was required (s.PatchRequired) and none is active.
bool ChooseIpsPatch(OpsState& s, IpsOffer ips) {
    if (s.Config.IpsApply != 1 || ips == IpsOffer::No) return true;
    s.UI->PauseTimer(true);
    std::optional<std::string> file = s.UI->ChooseFile(FileDialog::IpsFile);
    if (file) {
        s.IpsFileName = *file;
        LogLine(s, "IpsFileName = " + *file);
        std::string why;
        if (LoadIpsPatch(s, &why) == 0)
            s.IpsActive = 1;
        else
            LogLine(s, "Ips Not Applied!!!(" + why + ")");
    }
    s.UI->PauseTimer(false);
    if (s.IpsActive) {
        s.Result.PatchApplied = true;
        return true;
    }
    s.Result.PatchNotApplied = true;
    if (!s.PatchRequired) return true;
    // Nothing went to the cart yet: refused, unless items came before it.
    if (s.Result.ChunksDone == 0) s.Result.Kind = OutcomeKind::Refused;
    return false;
}

// One chunk of the image into ChunkBuffer: stop test, progress, read, 0xFF
// after the file's end (also in chunks a patch added past it: every byte that
// neither the file nor the patch gives is erased flash), header repair on
// chunk 0, patch. `remaining` counts the file's bytes still to read. 0 to go
// on; 254 (stopped) or -1 (read failed) with the file closed.
int PrepareChunk(OpsState& s, std::int32_t i, std::int32_t count, std::int32_t& remaining, bool logName) {
    const std::int32_t got = remaining < kChunkBytes ? remaining : kChunkBytes;
    if (int r = NextFileBlock(s, i, count, got); r != 0) return r;
    remaining -= got;
    PadChunk(s, got);
    ProcessMessages(s);
    if (i == 0) {
        // A header the check refuses leaves no name; never show a name left
        // over from another image.
        s.GameNameText.clear();
        CheckCartHeader(s, HeaderCheck::Repair);
        if (!s.Findings.Images.empty()) s.Findings.Images.back().HeaderRepaired = s.HeaderRepaired;
        if (logName) LogLine(s, s.MessagePrefix + s.GameNameText);
    }
    if (s.IpsActive) ApplyIpsToChunk(s, i);
    return 0;
}

void RecordSizeRefusal(OpsState& s, std::int64_t image, std::int64_t cart) {
    s.Findings.Refusal.ImageBytes = image;
    s.Findings.Refusal.CartBytes = cart;
}

// The image a pipeline is about to move, in the operation's findings.
ImageFindings& BeginImageFindings(OpsState& s, std::int32_t startChunk, std::int64_t imageSize, int passes) {
    ImageFindings& f = s.Findings.Images.emplace_back();
    f.StartChunk = startChunk;
    f.Chunks = ChunkCount(static_cast<std::int32_t>(imageSize));
    f.VerifyPasses = passes;
    return f;
}

std::string WithChunk(const char* text, std::int32_t i) { return text + std::to_string(i) + ")"; }

// Length of the image the pipeline moves: the file's, or longer when the
// patch writes past its end. -1, with the file closed and "Cart Size
// Error!!!" logged, when that runs past ImageEndChunk.
std::int64_t ImageSize(OpsState& s, std::int32_t size, std::int32_t startChunk) {
    if (!s.IpsActive) return size;
    const std::int64_t patched = IpsPatchedSize(s, size);
    if (patched > size && startChunk + ChunkCount(static_cast<std::int32_t>(patched)) > s.ImageEndChunk) {
        RecordSizeRefusal(s, patched, static_cast<std::int64_t>(s.ImageEndChunk - startChunk) * kChunkBytes);
        LogLine(s, "Cart Size Error!!!");
        CloseCurrentFile(s);
        return -1;
    }
    return patched;
}

// Compares the whole image with the flash from startChunk on. The file must
// be open at its start; it is closed on every return. `report`: the chunks
// compared go to SentData (a verify of its own, not a write's second pass).
int VerifyPass(OpsState& s, std::int32_t size, std::int64_t imageSize, std::int32_t startChunk, bool logName,
               bool report) {
    const std::int32_t count = ChunkCount(static_cast<std::int32_t>(imageSize));
    std::int32_t remaining = size;
    s.Result.VerifyPasses += 1;
    if (report && s.SentData) s.SentData->Item(startChunk);
    for (std::int32_t i = 0; i < count; ++i) {
        if (int r = PrepareChunk(s, i, count, remaining, logName); r != 0) return r;
        if (report && s.SentData) s.SentData->Data(s.ChunkBuffer.data(), kChunkBytes);
        // A chunk of 0xFF also matches an adapter that no longer answers.
        if (VerifyFlashChunk(s, startChunk + i, kChunkBytes) != 0 || !AdapterStillAnswers(s)) {
            LogLine(s, WithChunk("Verify Flash Error!!!(", i));
            CloseCurrentFile(s);
            return -1;
        }
        if (report) {
            s.Result.ChunksDone += 1;
            s.Result.BytesDone += kChunkBytes;
        }
    }
    CloseCurrentFile(s);
    return 0;
}

bool NeedsMultiGamePath(const OpsState& s) {
    return s.GameList.size() > 1 || s.GbRowCount != 0 ||
           (!s.GameList.empty() && IsGbClass(s.GameList[0].GType));
}

}  // namespace

int WriteImage(OpsState& s, std::int32_t size, std::int32_t startChunk, IpsOffer ips) {
    s.IpsActive = 0;
    if (size < 0 || !ChooseIpsPatch(s, ips)) {
        CloseCurrentFile(s);
        return -1;
    }
    const std::int64_t imageSize = ImageSize(s, size, startChunk);
    if (imageSize < 0) return -1;
    const std::int32_t count = ChunkCount(static_cast<std::int32_t>(imageSize));
    SetStatusText(s, "writing...");
    const std::size_t found = s.Findings.Images.size();
    BeginImageFindings(s, startChunk, imageSize, s.Config.VerifyAfterWrite ? 1 : 0);
    // Ended early: the chunks before `at` are in the cart.
    auto endedAt = [&s, found](std::int32_t at) {
        s.Findings.Images[found].ProgrammedChunks = at;
        s.Findings.Images[found].Stopped = s.StopRequested != 0;
    };

    std::int32_t remaining = size;
    if (s.SentData) s.SentData->Item(startChunk);
    for (std::int32_t i = 0; i < count; ++i) {
        if (int r = PrepareChunk(s, i, count, remaining, true); r != 0) {
            endedAt(i);
            // The file gave out (it shrank while being written): the log
            // says where the cart's copy ends, as for a failed program.
            if (r != kStopResult) LogLine(s, WithChunk("Write Flash Error!!!(", i));
            return r;
        }
        if (s.SentData) s.SentData->Data(s.ChunkBuffer.data(), kChunkBytes);
        // With "skip unchanged" a chunk of 0xFF compares equal to an adapter
        // that no longer answers and is never programmed: check it is there.
        std::int32_t failedChunk = startChunk + i;
        if (WriteCartChunk(s, startChunk + i, kChunkBytes, &failedChunk) != 0 || !AdapterStillAnswers(s)) {
            // Skipping unchanged chunks, the failure can lie in an earlier
            // chunk of the block, programmed again after its erase: name the
            // first chunk that is not written.
            const std::int32_t failed =
                failedChunk >= startChunk && failedChunk < startChunk + i ? failedChunk - startChunk : i;
            LogLine(s, WithChunk("Write Flash Error!!!(", failed));
            endedAt(failed);
            CloseCurrentFile(s);
            return -1;
        }
        s.Result.ChunksDone += 1;
        s.Result.BytesDone += kChunkBytes;
    }
    CloseCurrentFile(s);

    if (s.Config.VerifyAfterWrite) {
        if (OpenImageForRead(s) != 0) return -1;
        // Applying the patch used its records up; arm them again for this pass.
        if (s.IpsActive) ParseIpsRecords(s);
        SetStatusText(s, "Verifying...");
        s.Findings.Images[found].VerifyPasses = 2;
        if (int r = VerifyPass(s, size, imageSize, startChunk, false, false); r != 0) return r;
    }
    ReportCompleted(s, "Write ok");
    return 0;
}

int VerifyImage(OpsState& s, std::int32_t size, std::int32_t startChunk, IpsOffer ips) {
    s.IpsActive = 0;
    if (size < 0 || !ChooseIpsPatch(s, ips)) {
        CloseCurrentFile(s);
        return -1;
    }
    const std::int64_t imageSize = ImageSize(s, size, startChunk);
    if (imageSize < 0) return -1;
    SetStatusText(s, "Verifying...");
    BeginImageFindings(s, startChunk, imageSize, 1);
    if (int r = VerifyPass(s, size, imageSize, startChunk, true, true); r != 0) return r;
    ReportCompleted(s, "Verify ok");
    return 0;
}

namespace {

// Runs one game's pipeline from chunk 0 in the busy state and reports its
// verdict: the error text in the status panel, or the success line in the log.
OperationResult RunSingleGame(OpsState& s, OperationFrame& frame,
                              int (*pipeline)(OpsState&, std::int32_t, std::int32_t, IpsOffer),
                              std::int32_t size, const char* errorStatus, const char* okLine) {
    frame.Begin();
    s.MessagePrefix = "[" + s.GameList[0].Name + "] ";
    if (frame.Conclude(pipeline(s, size, 0, IpsOffer::Yes)))
        LogLine(s, okLine);
    else
        SetStatusText(s, errorStatus);
    frame.End();
    return frame.Finish();
}

}  // namespace

OperationResult WriteClick(OpsState& s) {
    s.MessagePrefix.clear();
    s.Findings = {};
    if (NeedsMultiGamePath(s)) return WriteMultiGames(s, MultiMode::Write);
    OperationFrame frame(s);
    if (s.GameList.empty()) return frame.Finish();

    BeginLogSection(s);
    BuildRowPath(s, 0);
    const std::optional<std::int32_t> size = ParseRowSize(s.GameList[0].Size);
    ResetProgress(s);
    if (FindFlashCart(s) != 0) return frame.Finish();
    if (!size || static_cast<std::uint32_t>(*size) > s.Cart.CapacityBytes) {
        if (size) RecordSizeRefusal(s, *size, s.Cart.CapacityBytes);
        LogLine(s, "Cart Size Error!!!");
        return frame.Finish();
    }
    s.ImageEndChunk = static_cast<std::int32_t>(s.Cart.CapacityBytes / kChunkBytes);
    WaitFlashReady(s);
    // The flash was made ready: these refusals leave the port idle.
    if (OpenImageForRead(s) != 0) {
        frame.Idle();
        return frame.Finish();
    }
    // The size was taken when the file was listed. A file that has changed
    // since would fail half-way (shorter) or be written in part and still
    // look good (longer): refuse it before the cart is touched.
    if (!CurrentFileHasListedSize(s, *size)) {
        CloseCurrentFile(s);
        frame.Idle();
        return frame.Finish();
    }
    return RunSingleGame(s, frame, WriteImage, *size, "Write Error!!!", "Write To Cart Ok");
}

OperationResult VerifyClick(OpsState& s) {
    s.MessagePrefix.clear();
    s.Findings = {};
    if (NeedsMultiGamePath(s)) return WriteMultiGames(s, MultiMode::Verify);
    OperationFrame frame(s);
    if (s.GameList.empty()) return frame.Finish();

    BeginLogSection(s);
    BuildRowPath(s, 0);
    const std::optional<std::int32_t> size = ParseRowSize(s.GameList[0].Size);
    ResetProgress(s);
    if (DetectAdapter(s) != 0) return frame.Finish();
    if (!size) {
        LogLine(s, "File Size Error!!!");
        return frame.Finish();
    }
    // Addresses past the flash mirror it: an image larger than a flash cart
    // would compare its second half with the first. A mask ROM does not say
    // its size; its whole address space is taken. The verify's log stays as
    // it was: the cart model is not shown.
    s.ImageEndChunk = 1024;
    if (IdentifyFlash(s, false) == 0) {
        if (static_cast<std::uint32_t>(*size) > s.Cart.CapacityBytes) {
            RecordSizeRefusal(s, *size, s.Cart.CapacityBytes);
            LogLine(s, "Cart Size Error!!!");
            return frame.Finish();
        }
        s.ImageEndChunk = static_cast<std::int32_t>(s.Cart.CapacityBytes / kChunkBytes);
    }
    if (OpenImageForRead(s) != 0) return frame.Finish();
    if (!CurrentFileHasListedSize(s, *size)) {
        CloseCurrentFile(s);
        return frame.Finish();
    }
    return RunSingleGame(s, frame, VerifyImage, *size, "Verify Error!!!", "Verify Cart with File Ok");
}

}  // namespace rombolt
