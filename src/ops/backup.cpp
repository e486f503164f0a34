// Copying the game in the cartridge into a file: header check, size probe or
// flash capacity, the size dialog, and every chunk read twice before it is
// written.
#include <string>

#include "core/operation.h"
#include "flash/flash.h"
#include "flash/identify.h"
#include "image/header.h"
#include "link/detect.h"
#include "link/link.h"
#include "ops/chunk_file.h"
#include "ops/commands.h"

namespace rombolt {

namespace {

// Cart word address into registers 0, 1, 2 (low byte first), then the data
// window selected and the port set for reads.
void StartWordReads(OpsState& s, std::uint32_t wordAddress) {
    WriteRegister(s, 0, static_cast<std::uint8_t>(wordAddress));
    WriteRegister(s, 1, static_cast<std::uint8_t>(wordAddress >> 8));
    WriteRegister(s, 2, static_cast<std::uint8_t>(wordAddress >> 16));
    SelectRegister(s, 3);
    WriteControl(s, 0);
}

}  // namespace

int CartSizeIndexOfChunks(std::int32_t chunks) {
    for (std::size_t i = 0; i < kCartSizes.size(); ++i)
        if (kCartSizes[i].chunks == chunks) return static_cast<int>(i);
    return -1;
}

int CartSizeIndexOfItem(std::string_view item) {
    for (std::size_t i = 0; i < kCartSizes.size(); ++i)
        if (item == kCartSizes[i].item) return static_cast<int>(i);
    return -1;
}

bool ChunkIsEmpty(OpsState& s, std::int32_t chunk) {
    for (int w = 0; w < kChunkWords; ++w) s.ChunkBuffer.setWord(w, static_cast<std::uint16_t>(w));
    const std::uint32_t base = static_cast<std::uint32_t>(chunk) * kChunkWords;
    for (int k = 0; k < 64; ++k) {
        StartWordReads(s, base + static_cast<std::uint32_t>(k) * 256);
        for (int n = 0; n < 256; ++n)
            if (ReadDataWord(s) != s.ChunkBuffer.word(k * 256 + n)) return false;
    }
    return true;
}

int ProbeRomSize(OpsState& s) {
    // Mask ROMs reach 32 MiB: a game running past 16 MiB is offered whole.
    for (std::int32_t c : {32, 64, 128, 256, 512})
        if (ChunkIsEmpty(s, c)) return c;
    return 1024;
}

int BackupCart(OpsState& s, OperationFrame& frame, bool* cancelled) {
    if (cancelled) *cancelled = false;
    // The header: the first 256 words of the cart. A raw backup copies a
    // cart whose header is damaged as it is.
    if (!s.RawBackup) {
        StartWordReads(s, 0);
        for (int w = 0; w < 256; ++w) s.ChunkBuffer.setWord(w, ReadDataWord(s));
        if (CheckCartHeader(s, HeaderCheck::Logged) < 0) {
            LogLine(s, "Rom Header Error!!!");
            return -1;
        }
    }

    s.ChosenCartSize = ProbeRomSize(s);
    // A flash cart offers its whole capacity, whatever game it holds.
    if (IdentifyFlash(s) == 0)
        s.ChosenCartSize = static_cast<std::int32_t>(s.Cart.CapacityBytes / kChunkBytes);

    int index = CartSizeIndexOfChunks(s.ChosenCartSize);
    if (index < 0) index = 0;
    s.ChosenCartSize = index;
    s.ChosenCartSize = s.UI->ChooseCartSize(index);
    const int chosen = CartSizeIndexOfChunks(s.ChosenCartSize);
    if (chosen < 0) {
        LogLine(s, "Backup Cancel");
        if (cancelled) *cancelled = true;
        return -1;
    }
    LogLine(s, kCartSizes[chosen].logLine);

    if (OpenOutputFile(s) != 0) return -1;
    SetStatusText(s, "Reading...");
    frame.Begin();

    const std::int32_t count = s.ChosenCartSize;
    for (std::int32_t i = 0; i < count; ++i) {
        if (BlockStopTest(s)) {
            AbandonOutputFile(s);
            return kStopResult;
        }
        s.ProgressPercent = PercentOf(i, count);
        ReadFlashChunk(s, i);
        ProcessMessages(s);
        // Second read of the same chunk: a cart that does not read the same
        // twice must not produce a file that looks good.
        if (VerifyFlashChunk(s, i, kChunkBytes) != 0) {
            AbandonOutputFile(s);
            return -1;
        }
        // An unplugged adapter reads 0xFF twice alike: never file that as the game.
        if (!AdapterStillAnswers(s)) {
            AbandonOutputFile(s);
            return -1;
        }
        if (!WriteChunk(s, kChunkBytes)) {
            AbandonOutputFile(s);
            return -1;
        }
        s.Result.ChunksDone += 1;
        s.Result.BytesDone += kChunkBytes;
    }
    if (!FinishOutputFile(s)) return -1;
    ReportCompleted(s, "Read ok");
    return 0;
}

OperationResult ReadClick(OpsState& s) {
    OperationFrame frame(s);
    BeginLogSection(s);
    if (DetectAdapter(s) != 0) return frame.Finish();
    if (!ChooseBackupFile(s, "Backup Game Cancel")) {
        frame.Cancel();
        return frame.Finish();
    }
    bool cancelled = false;
    if (!frame.Conclude(BackupCart(s, frame, &cancelled))) {
        SetStatusText(s, "Backup Error!!!");
        // The file keeps the chunks written so far; say plainly that it is
        // not a good backup. A cancelled size dialog made no file: its
        // "Backup Cancel" says all.
        if (cancelled)
            frame.Cancel();
        else
            LogLine(s, "Backup Error!!!");
    }
    frame.End();
    return frame.Finish();
}

}  // namespace rombolt
