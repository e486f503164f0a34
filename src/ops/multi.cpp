#include "ops/multi.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "core/operation.h"
#include "flash/flash.h"
#include "flash/identify.h"
#include "image/header.h"
#include "link/detect.h"
#include "ops/chunk_file.h"
#include "ops/commands.h"
#include "ops/game_rows.h"
#include "ops/layout.h"
#include "ops/loaders.h"
#include "ops/preflight.h"
#include "ops/skip_unchanged.h"

namespace rombolt {

namespace {

std::string Prefix(int k, int t, const std::string& name) {
    return std::to_string(k) + "/" + std::to_string(t) + "[" + name + "] ";
}

const char* ErrorStatus(MultiMode mode) {
    return mode == MultiMode::Write ? "Write Error!!!" : "Verify Error!!!";
}

void FailOperation(OpsState& s, OperationFrame& frame, MultiMode mode) {
    SetStatusText(s, ErrorStatus(mode));
    frame.End();
}

// Whether the planned map uses a chunk beyond the detected capacity (a cart
// of a size the layouts do not know, such as a 4 MiB one).
bool MapExceedsCapacity(const OpsState& s) {
    const std::uint32_t chunks = s.Cart.CapacityBytes / kChunkBytes;
    for (int c = static_cast<int>(chunks); c < kMapChunks; ++c) {
        const std::uint8_t v = s.ChunkMap[c];
        if (v == ChunkEnd) return false;
        if (v != ChunkFree) return true;
    }
    return false;
}

// First chunk past the free room that the item starting at chunk c may grow
// into: the next item, the end mark or the end of the cart.
std::int32_t RoomEnd(const OpsState& s, int c) {
    const int chunks = static_cast<int>(s.Cart.CapacityBytes / kChunkBytes);
    const std::uint8_t item = s.ChunkMap[c];
    int e = c + 1;
    while (e < kMapChunks && e < chunks && (s.ChunkMap[e] == item || s.ChunkMap[e] == ChunkFree)) ++e;
    return e;
}

}  // namespace

int CountMapItems(const OpsState& s) {
    int t = 0;
    std::uint8_t last = ChunkFree;
    for (int c = 0; c < kMapChunks; ++c) {
        const std::uint8_t v = s.ChunkMap[c];
        if (v == ChunkEnd) break;
        if (v == ChunkFree) continue;
        if (v != last) ++t;
        last = v;
    }
    return t;
}

int WriteLoader(OpsState& s, OperationFrame& frame, MultiMode mode, std::int32_t chunk) {
    CloseCurrentFile(s);
    std::error_code ec;
    // A directory (the default before a loader file is chosen) is no loader file.
    if (!s.CurrentFilePath.empty() && !std::filesystem::is_directory(s.CurrentFilePath, ec))
        s.CurrentFile = std::fopen(s.CurrentFilePath.c_str(), "rb");

    if (s.CurrentFile != nullptr) {
        if (CurrentFileLength(s) != kLoaderSize) {
            LogLine(s, "Multi-Boot Files Size Error!!!");
            CloseCurrentFile(s);
            frame.End();
            return -1;
        }
        const int r = mode == MultiMode::Write ? WriteImage(s, kLoaderSize, chunk, IpsOffer::No)
                                               : VerifyImage(s, kLoaderSize, chunk, IpsOffer::No);
        if (r == 0) return 0;
        CloseCurrentFile(s);
        FailOperation(s, frame, mode);
        return -1;
    }

    // The built-in image, already in ChunkBuffer.
    CheckCartHeader(s, HeaderCheck::Repair);
    LogLine(s, s.MessagePrefix + "# " + s.GameNameText);
    s.ProgressPercent = 100;
    if (s.SentData) {
        s.SentData->Item(chunk);
        s.SentData->Data(s.ChunkBuffer.data(), kLoaderSize);
    }
    const int r = mode == MultiMode::Write ? WriteCartChunk(s, chunk, kLoaderSize)
                                           : VerifyFlashChunk(s, chunk, kLoaderSize);
    if (r == 0 && AdapterStillAnswers(s)) {
        s.Result.ChunksDone += 1;
        s.Result.BytesDone += kLoaderSize;
        return 0;
    }
    // The line a loader file's pipeline logs for its only chunk.
    LogLine(s, mode == MultiMode::Write ? "Write Flash Error!!!(0)" : "Verify Flash Error!!!(0)");
    FailOperation(s, frame, mode);
    return -1;
}

OperationResult WriteMultiGames(OpsState& s, MultiMode mode) {
    s.Findings = {};
    OperationFrame frame(s);
    BeginLogSection(s);
    ResetProgress(s);
    if (FindFlashCart(s) != 0) return frame.Finish();
    WaitFlashReady(s);

    const int layout = LayoutCart(s, LayoutKindOf(s.Cart));
    if (layout != 0 || MapExceedsCapacity(s)) {
        s.Findings.Refusal.NeededBytes = s.ListTotalSize;
        s.Findings.Refusal.SpaceBytes = s.Cart.CapacityBytes;
        s.Findings.Refusal.LayoutResult = layout;
        LogLine(s, "This  cart have not enough space for these files!!!");
        return frame.Finish();
    }

    // Nothing is erased before every file the map needs has been found usable.
    if (!MultiGameFilesUsable(s)) {
        SetStatusText(s, mode == MultiMode::Write ? "Write Error!!!" : "Verify Error!!!");
        return frame.Finish();
    }
    const int t = CountMapItems(s);
    frame.Begin();

    int k = 1;
    for (const MapItem& item : MapItems(s)) {
        const int c = item.chunk;
        if (item.IsLoader()) {
            const bool gba = item.value == ChunkGbaLoader;
            s.MessagePrefix = Prefix(k++, t, gba ? "GBA Loader" : "GB Loader");
            const LoaderImage& image = gba ? BuiltinGbaLoader : BuiltinGbLoader;
            std::memcpy(s.ChunkBuffer.data(), image.data(), kLoaderSize);
            s.CurrentFilePath = gba ? s.Config.GbaLoaderFile.str() : s.Config.GbLoaderFile.str();
            if (WriteLoader(s, frame, mode, gba ? 0 : c) != 0) return frame.Finish();
            continue;
        }
        const int row = item.value;
        if (row >= static_cast<int>(s.GameList.size())) {
            // The list changed without its summary being recomputed.
            LogLine(s, "File Open Error!!!");
            frame.Idle();
            return frame.Finish();
        }
        BuildRowPath(s, row);
        const GameRow& game = s.GameList[static_cast<std::size_t>(row)];
        const std::optional<std::int32_t> listed = ParseRowSize(game.Size);
        // A game file that has gone or changed since it was listed ends the
        // operation before any of its chunks is written. The items before it
        // are written, and the status must not keep their "Write ok".
        bool usable = OpenImageForRead(s) == 0;
        if (usable && !listed) LogLine(s, "File Size Error!!!");
        usable = usable && listed && CurrentFileHasListedSize(s, *listed);
        if (!usable) {
            CloseCurrentFile(s);
            SetStatusText(s, ErrorStatus(mode));
            frame.Idle();
            return frame.Finish();
        }
        std::int32_t n = s.RowSizes[row];
        if (*listed < n) n = *listed;
        s.ImageEndChunk = RoomEnd(s, c);
        s.MessagePrefix = Prefix(k++, t, game.Name);
        const int r = mode == MultiMode::Write ? WriteImage(s, n, c, IpsOffer::Yes)
                                               : VerifyImage(s, n, c, IpsOffer::Yes);
        CloseCurrentFile(s);
        if (r != 0) {
            FailOperation(s, frame, mode);
            return frame.Finish();
        }
    }

    if (!frame.Conclude(0)) {
        FailOperation(s, frame, mode);
        return frame.Finish();
    }
    frame.End(mode == MultiMode::Write ? "Write Multi-Files completed" : "Verify Multi-Files completed");
    return frame.Finish();
}

}  // namespace rombolt
